#include "device/SharedConstants.h"

#include <gtest/gtest.h>

TEST (SharedConstants, ValuesAndOrder)
{
    const juce::StringArray keys { SETTINGS_LANGUAGE, SETTINGS_CURRENT_DIR, SETTINGS_EXPORT_DIR, SETTINGS_FIRMWARE_DIR,
                                   SETTINGS_IR_IMPORT_DIR, SETTINGS_IMPORT_PRESET_DIR, SETTINGS_WINDOW_SIZE,
                                   LANGUAGE_CN, LANGUAGE_EN, PARAM_ID.toString(), SETTINGS_DONOT_SHOW_UPDATE_TIPS,
                                   MODULE_PRE, MODULE_DST, MODULE_AMP, MODULE_NR, MODULE_RVB, MODULE_DLY,
                                   MODULE_MOD, MODULE_EQ, MODULE_CAB, MODULE_WAH, MODULE_VOL,
                                   WEB_DATA, WEB_MODEL_TX810, WEB_SOFTWARE_ID, WEB_NAME, WEB_DESC, WEB_SOFTWARE,
                                   WEB_VERSION, WEB_FILE_URL, WEB_PAGE_URL, WEB_MD5, WEB_DEBUG,
                                   WEB_FIRMWARE_VERSIONS, WEB_PRODUCT, WEB_FIRMWARE, WEB_LATEST_FIRMWARE,
                                   WEB_PRODUCT_ID };

    EXPECT_EQ (keys, juce::StringArray ({ "Language", "CurrentDir", "ExportDir", "FirmwareDir", "irImportDir",
                                          "ImportPresetDir", "TAG_WindowSize", "cn", "en", "PARAM_ID", "donotShowUpdateTips",
                                          "PRE", "DST", "AMP", "NR", "RVB", "DLY", "MOD", "EQ", "CAB", "WAH", "VOL",
                                          "data", "TX-810", "softwareID", "name", "desc", "software", "version",
                                          "fileURL", "pageURL", "md5", "debug", "firmwareVersions", "product",
                                          "firmware", "latestFirmware", "productID" }));

    EXPECT_EQ (CONTEXT_MENU_ITEMS, juce::StringArray ({ "Import", "Export", "Rename", "Copy to", "Paste", "Delete" }));
    EXPECT_EQ (MODULE_CHAIN_ORDER, juce::StringArray ({ "PRE", "WAH", "DST", "AMP", "NR", "CAB",
                                                        "EQ", "MOD", "DLY", "RVB", "VOL" }));

    EXPECT_EQ (UPDATE_START, (std::vector<uint8_t> { 0x7E, 0x48, 0x01 }));
    EXPECT_EQ (UPDATE_REPLY_ACCEPTED, (std::vector<uint8_t> { 0x7E, 0x48, 0x03, 0x7F }));
    EXPECT_EQ (UPDATE_REPLY_REFUSED, (std::vector<uint8_t> { 0x7E, 0x48, 0x03, 0x7E }));
}
