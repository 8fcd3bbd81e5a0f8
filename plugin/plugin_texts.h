// The plug-in's own texts, in the system code page (GBK).
#pragma once

// "签名控件"
#define QUORVAN_PLUGIN_NAME "\xC7\xA9\xC3\xFB\xBF\xD8\xBC\xFE"
// "Chrome/FireFox页面签名控件."
#define QUORVAN_PLUGIN_DESCRIPTION "Chrome/FireFox\xD2\xB3\xC3\xE6\xC7\xA9\xC3\xFB\xBF\xD8\xBC\xFE."
#define QUORVAN_MIME_TYPE "application/x-vexsign"
// "application/x-vexsign::签名控件"
#define QUORVAN_MIME_DESCRIPTION QUORVAN_MIME_TYPE "::" QUORVAN_PLUGIN_NAME
