#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

// Named constants shared by every source file. Each constant has internal linkage, so each
// source file that includes this header holds its own copy, built in this order.

// Settings keys and language codes.
static const juce::String SETTINGS_LANGUAGE             = "Language";
static const juce::String SETTINGS_CURRENT_DIR          = "CurrentDir";
static const juce::String SETTINGS_EXPORT_DIR           = "ExportDir";
static const juce::String SETTINGS_FIRMWARE_DIR         = "FirmwareDir";   // full path of the last chosen firmware file
static const juce::String SETTINGS_IR_IMPORT_DIR        = "irImportDir";
static const juce::String SETTINGS_IMPORT_PRESET_DIR    = "ImportPresetDir";
static const juce::String SETTINGS_WINDOW_SIZE          = "TAG_WindowSize";
static const juce::String LANGUAGE_CN                   = "cn";
static const juce::String LANGUAGE_EN                   = "en";
static const juce::Identifier PARAM_ID                  = "PARAM_ID";

// The device's effect modules.
static const juce::String MODULE_PRE = "PRE";
static const juce::String MODULE_DST = "DST";
static const juce::String MODULE_AMP = "AMP";
static const juce::String MODULE_NR  = "NR";
static const juce::String MODULE_RVB = "RVB";
static const juce::String MODULE_DLY = "DLY";
static const juce::String MODULE_MOD = "MOD";
static const juce::String MODULE_EQ  = "EQ";
static const juce::String MODULE_CAB = "CAB";
static const juce::String MODULE_WAH = "WAH";
static const juce::String MODULE_VOL = "VOL";

static const juce::String SETTINGS_DONOT_SHOW_UPDATE_TIPS = "donotShowUpdateTips";

static const juce::StringArray CONTEXT_MENU_ITEMS { "Import", "Export", "Rename", "Copy to", "Paste", "Delete" };

// The effect modules in signal-chain order.
static const juce::StringArray MODULE_CHAIN_ORDER { MODULE_PRE, MODULE_WAH, MODULE_DST, MODULE_AMP,
                                                    MODULE_NR,  MODULE_CAB, MODULE_EQ,  MODULE_MOD,
                                                    MODULE_DLY, MODULE_RVB, MODULE_VOL };

// Keys of the web service's answer about available software and firmware.
static const juce::String WEB_DATA              = "data";
static const juce::String WEB_MODEL_TX810       = "TX-810";
static const juce::String WEB_SOFTWARE_ID       = "softwareID";
static const juce::String WEB_NAME              = "name";
static const juce::String WEB_DESC              = "desc";
static const juce::String WEB_SOFTWARE          = "software";
static const juce::String WEB_VERSION           = "version";
static const juce::String WEB_FILE_URL          = "fileURL";
static const juce::String WEB_PAGE_URL          = "pageURL";
static const juce::String WEB_MD5               = "md5";
static const juce::String WEB_DEBUG             = "debug";
static const juce::String WEB_FIRMWARE_VERSIONS = "firmwareVersions";
static const juce::String WEB_PRODUCT           = "product";
static const juce::String WEB_FIRMWARE          = "firmware";
static const juce::String WEB_LATEST_FIRMWARE   = "latestFirmware";
static const juce::String WEB_PRODUCT_ID        = "productID";

// Update protocol templates, without F0 and F7 (the sender adds them).
static const std::vector<uint8_t> UPDATE_START          { 0x7E, 0x48, 0x01 };
static const std::vector<uint8_t> UPDATE_REPLY_ACCEPTED { 0x7E, 0x48, 0x03, 0x7F };
static const std::vector<uint8_t> UPDATE_REPLY_REFUSED  { 0x7E, 0x48, 0x03, 0x7E };
