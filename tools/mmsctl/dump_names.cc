// dump_names.cc: {code, name} arrays for the values the dump names.
//
// Enumerated header values are keyed by the header code from the codec's
// table and the wire byte; a byte no row names is shown in hex by the
// caller.
#include "tools/mmsctl/dump_names.h"

#include <cstddef>

#include "codec/header_table.h"

namespace mmsctl {
namespace {

namespace codec = mms::codec;

struct ValueRow {
  uint8_t code;   // header field (7-bit)
  uint8_t value;  // wire byte
  const char* name;
};

constexpr ValueRow kValues[] = {
    {codec::kMessageType, 128, "m-send-req"},
    {codec::kMessageType, 129, "m-send-conf"},
    {codec::kMessageType, 130, "m-notification-ind"},
    {codec::kMessageType, 131, "m-notifyresp-ind"},
    {codec::kMessageType, 132, "m-retrieve-conf"},
    {codec::kMessageType, 133, "m-acknowledge-ind"},
    {codec::kMessageType, 134, "m-delivery-ind"},
    {codec::kMessageType, 135, "m-read-rec-ind"},
    {codec::kMessageType, 136, "m-read-orig-ind"},
    {codec::kMessageType, 137, "m-forward-req"},
    {codec::kMessageType, 138, "m-forward-conf"},
    {codec::kMessageType, 139, "m-mbox-store-req"},
    {codec::kMessageType, 140, "m-mbox-store-conf"},
    {codec::kMessageType, 141, "m-mbox-view-req"},
    {codec::kMessageType, 142, "m-mbox-view-conf"},
    {codec::kMessageType, 143, "m-mbox-upload-req"},
    {codec::kMessageType, 144, "m-mbox-upload-conf"},
    {codec::kMessageType, 145, "m-mbox-delete-req"},
    {codec::kMessageType, 146, "m-mbox-delete-conf"},
    {codec::kMessageType, 147, "m-mbox-descr"},
    {codec::kMessageType, 148, "m-delete-req"},
    {codec::kMessageType, 149, "m-delete-conf"},
    {codec::kMessageType, 150, "m-cancel-req"},
    {codec::kMessageType, 151, "m-cancel-conf"},
    {codec::kMessageClass, 128, "Personal"},
    {codec::kMessageClass, 129, "Advertisement"},
    {codec::kMessageClass, 130, "Informational"},
    {codec::kMessageClass, 131, "Auto"},
    {codec::kPriority, 128, "Low"},
    {codec::kPriority, 129, "Normal"},
    {codec::kPriority, 130, "High"},
    {codec::kSenderVisibility, 128, "Hide"},
    {codec::kSenderVisibility, 129, "Show"},
    {codec::kResponseStatus, 128, "Ok"},
    {codec::kResponseStatus, 129, "Error-unspecified"},
    {codec::kResponseStatus, 130, "Error-service-denied"},
    {codec::kResponseStatus, 131, "Error-message-format-corrupt"},
    {codec::kResponseStatus, 132, "Error-sending-address-unresolved"},
    {codec::kResponseStatus, 133, "Error-message-not-found"},
    {codec::kResponseStatus, 134, "Error-network-problem"},
    {codec::kResponseStatus, 135, "Error-content-not-accepted"},
    {codec::kResponseStatus, 136, "Error-unsupported-message"},
    {codec::kResponseStatus, 192, "Error-transient-failure"},
    {codec::kResponseStatus, 193, "Error-transient-sending-address-unresolved"},
    {codec::kResponseStatus, 194, "Error-transient-message-not-found"},
    {codec::kResponseStatus, 195, "Error-transient-network-problem"},
    {codec::kResponseStatus, 224, "Error-permanent-failure"},
    {codec::kResponseStatus, 225, "Error-permanent-service-denied"},
    {codec::kResponseStatus, 226, "Error-permanent-message-format-corrupt"},
    {codec::kResponseStatus, 227, "Error-permanent-sending-address-unresolved"},
    {codec::kResponseStatus, 228, "Error-permanent-message-not-found"},
    {codec::kResponseStatus, 229, "Error-permanent-content-not-accepted"},
    {codec::kStatus, 128, "Expired"},
    {codec::kStatus, 129, "Retrieved"},
    {codec::kStatus, 130, "Rejected"},
    {codec::kStatus, 131, "Deferred"},
    {codec::kStatus, 132, "Unrecognised"},
    {codec::kStatus, 133, "Indeterminate"},
    {codec::kStatus, 134, "Forwarded"},
    {codec::kStatus, 135, "Unreachable"},
    {codec::kRetrieveStatus, 128, "Ok"},
    {codec::kRetrieveStatus, 192, "Error-transient-failure"},
    {codec::kRetrieveStatus, 193, "Error-transient-message-not-found"},
    {codec::kRetrieveStatus, 194, "Error-transient-network-problem"},
    {codec::kRetrieveStatus, 224, "Error-permanent-failure"},
    {codec::kRetrieveStatus, 225, "Error-permanent-service-denied"},
    {codec::kRetrieveStatus, 226, "Error-permanent-message-not-found"},
    {codec::kRetrieveStatus, 227, "Error-permanent-content-unsupported"},
    {codec::kReadStatus, 128, "Read"},
    {codec::kReadStatus, 129, "Deleted without being read"},
    {codec::kReplyCharging, 128, "Requested"},
    {codec::kReplyCharging, 129, "Requested text only"},
    {codec::kReplyCharging, 130, "Accepted"},
    {codec::kReplyCharging, 131, "Accepted text only"},
    {codec::kMmState, 128, "Draft"},
    {codec::kMmState, 129, "Sent"},
    {codec::kMmState, 130, "New"},
    {codec::kMmState, 131, "Retrieved"},
    {codec::kMmState, 132, "Forwarded"},
    {codec::kContentClass, 128, "text"},
    {codec::kContentClass, 129, "image-basic"},
    {codec::kContentClass, 130, "image-rich"},
    {codec::kContentClass, 131, "video-basic"},
    {codec::kContentClass, 132, "video-rich"},
    {codec::kContentClass, 133, "megapixel"},
    {codec::kContentClass, 134, "content-basic"},
    {codec::kContentClass, 135, "content-rich"},
    {codec::kRecommendedRetrievalMode, 128, "Manual"},
};

// Fields whose value is Yes (128) or No (129).
constexpr uint8_t kYesNoFields[] = {
    codec::kDeliveryReport, codec::kReadReport,
    codec::kReportAllowed,  codec::kStore,
    codec::kStored,         codec::kTotals,
    codec::kQuotas,         codec::kDistributionIndicator,
    codec::kDrmContent,     codec::kAdaptationAllowed,
};

// WSP well-known content types, indexed by code 0x00..0x3F.
constexpr const char* kContentTypes[] = {
    "*/*",
    "text/*",
    "text/html",
    "text/plain",
    "text/x-hdml",
    "text/x-ttml",
    "text/x-vCalendar",
    "text/x-vCard",
    "text/vnd.wap.wml",
    "text/vnd.wap.wmlscript",
    "text/vnd.wap.wta-event",
    "multipart/*",
    "multipart/mixed",
    "multipart/form-data",
    "multipart/byteranges",
    "multipart/alternative",
    "application/*",
    "application/java-vm",
    "application/x-www-form-urlencoded",
    "application/x-hdmlc",
    "application/vnd.wap.wmlc",
    "application/vnd.wap.wmlscriptc",
    "application/vnd.wap.wta-eventc",
    "application/vnd.wap.uaprof",
    "application/vnd.wap.wtls-ca-certificate",
    "application/vnd.wap.wtls-user-certificate",
    "application/x-x509-ca-cert",
    "application/x-x509-user-cert",
    "image/*",
    "image/gif",
    "image/jpeg",
    "image/tiff",
    "image/png",
    "image/vnd.wap.wbmp",
    "application/vnd.wap.multipart.*",
    "application/vnd.wap.multipart.mixed",
    "application/vnd.wap.multipart.form-data",
    "application/vnd.wap.multipart.byteranges",
    "application/vnd.wap.multipart.alternative",
    "application/xml",
    "text/xml",
    "application/vnd.wap.wbxml",
    "application/x-x968-cross-cert",
    "application/x-x968-ca-cert",
    "application/x-x968-user-cert",
    "text/vnd.wap.si",
    "application/vnd.wap.sic",
    "text/vnd.wap.sl",
    "application/vnd.wap.slc",
    "text/vnd.wap.co",
    "application/vnd.wap.coc",
    "application/vnd.wap.multipart.related",
    "application/vnd.wap.sia",
    "text/vnd.wap.connectivity-xml",
    "application/vnd.wap.connectivity-wbxml",
    "application/pkcs7-mime",
    "application/vnd.wap.hashed-certificate",
    "application/vnd.wap.signed-certificate",
    "application/vnd.wap.cert-response",
    "application/xhtml+xml",
    "application/wml+xml",
    "text/css",
    "application/vnd.wap.mms-message",
    "application/vnd.wap.rollover-certificate",
};
static_assert(sizeof(kContentTypes) / sizeof(kContentTypes[0]) == 0x40,
              "one content type per code 0x00..0x3F");

// WSP well-known parameters, indexed by code 0x00..0x1D.
constexpr const char* kParameters[] = {
    "q",
    "charset",
    "level",
    "type",
    "",
    "name",
    "filename",
    "differences",
    "padding",
    "type",
    "start",
    "start-info",
    "comment",
    "domain",
    "max-age",
    "path",
    "secure",
    "sec",
    "mac",
    "creation-date",
    "modification-date",
    "read-date",
    "size",
    "name",
    "filename",
    "start",
    "start-info",
    "comment",
    "domain",
    "path",
};

struct NumberName {
  uint32_t number;
  const char* name;
};

constexpr NumberName kCharsets[] = {
    {3, "us-ascii"},    {4, "iso-8859-1"},  {5, "iso-8859-2"},
    {6, "iso-8859-3"},  {7, "iso-8859-4"},  {8, "iso-8859-5"},
    {106, "utf-8"},     {113, "gbk"},       {1000, "iso-10646-ucs-2"},
    {1013, "utf-16be"}, {1014, "utf-16le"}, {1015, "utf-16"},
    {2025, "gb2312"},   {2026, "big5"},
};

constexpr NumberName kWspHeaders[] = {
    {0x0B, "Content-Encoding"},
    {0x0C, "Content-Language"},
    {0x0D, "Content-Length"},
    {0x0E, "Content-Location"},
    {0x0F, "Content-MD5"},
    {0x11, "Content-Type"},
    {0x12, "Date"},
    {0x2E, "Content-Disposition"},
    {0x2F, "X-Wap-Application-Id"},
    {0x40, "Content-ID"},
    {0x45, "Content-Disposition"},
};

}  // namespace

const char* HeaderValueName(uint8_t code, uint8_t value) {
  for (const ValueRow& row : kValues) {
    if (row.code == code && row.value == value) {
      return row.name;
    }
  }
  for (uint8_t yes_no : kYesNoFields) {
    if (yes_no == code && (value == codec::kYes || value == codec::kNo)) {
      return value == codec::kYes ? "Yes" : "No";
    }
  }
  return nullptr;
}

const char* ContentTypeName(uint32_t code) {
  const size_t count = sizeof(kContentTypes) / sizeof(kContentTypes[0]);
  return code < count ? kContentTypes[code] : nullptr;
}

const char* ParameterName(uint8_t code) {
  const size_t count = sizeof(kParameters) / sizeof(kParameters[0]);
  return code < count && kParameters[code][0] != '\0' ? kParameters[code]
                                                      : nullptr;
}

const char* CharsetName(uint32_t mib) {
  for (const NumberName& row : kCharsets) {
    if (row.number == mib) {
      return row.name;
    }
  }
  return nullptr;
}

const char* WspHeaderName(uint8_t code) {
  for (const NumberName& row : kWspHeaders) {
    if (row.number == code) {
      return row.name;
    }
  }
  return nullptr;
}

}  // namespace mmsctl
