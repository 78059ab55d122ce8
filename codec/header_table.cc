// header_table.cc: the one table of MMS header fields {code, name, kind}.
//
// Rows are in code order with no gaps, so a code is its own index; the
// static_asserts below keep it that way when a row is touched.
#include "codec/header_table.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <iterator>
#include <string>

namespace mms::codec {
namespace {

using K = ValueKind;

constexpr HeaderRow kHeaders[] = {
    {kBcc, "Bcc", K::kEncodedString},
    {kCc, "Cc", K::kEncodedString},
    {kContentLocation, "X-Mms-Content-Location", K::kText},
    {kContentType, "Content-Type", K::kContentType},
    {kDate, "Date", K::kLongInteger},
    {kDeliveryReport, "X-Mms-Delivery-Report", K::kOctet},
    {kDeliveryTime, "X-Mms-Delivery-Time", K::kTime},
    {kExpiry, "X-Mms-Expiry", K::kTime},
    {kFrom, "From", K::kFrom},
    {kMessageClass, "X-Mms-Message-Class", K::kClass},
    {kMessageId, "Message-ID", K::kText},
    {kMessageType, "X-Mms-Message-Type", K::kOctet},
    {kMmsVersion, "X-Mms-MMS-Version", K::kOctet},
    {kMessageSize, "X-Mms-Message-Size", K::kLongInteger},
    {kPriority, "X-Mms-Priority", K::kOctet},
    {kReadReport, "X-Mms-Read-Report", K::kOctet},
    {kReportAllowed, "X-Mms-Report-Allowed", K::kOctet},
    {kResponseStatus, "X-Mms-Response-Status", K::kOctet},
    {kResponseText, "X-Mms-Response-Text", K::kEncodedString},
    {kSenderVisibility, "X-Mms-Sender-Visibility", K::kOctet},
    {kStatus, "X-Mms-Status", K::kOctet},
    {kSubject, "Subject", K::kEncodedString},
    {kTo, "To", K::kEncodedString},
    {kTransactionId, "X-Mms-Transaction-Id", K::kText},
    {kRetrieveStatus, "X-Mms-Retrieve-Status", K::kOctet},
    {kRetrieveText, "X-Mms-Retrieve-Text", K::kEncodedString},
    {kReadStatus, "X-Mms-Read-Status", K::kOctet},
    {kReplyCharging, "X-Mms-Reply-Charging", K::kOctet},
    {kReplyChargingDeadline, "X-Mms-Reply-Charging-Deadline", K::kTime},
    {kReplyChargingId, "X-Mms-Reply-Charging-ID", K::kText},
    {kReplyChargingSize, "X-Mms-Reply-Charging-Size", K::kLongInteger},
    {kPreviouslySentBy, "X-Mms-Previously-Sent-By", K::kLengthPrefixed},
    {kPreviouslySentDate, "X-Mms-Previously-Sent-Date", K::kLengthPrefixed},
    {kStore, "X-Mms-Store", K::kOctet},
    {kMmState, "X-Mms-MM-State", K::kOctet},
    {kMmFlags, "X-Mms-MM-Flags", K::kLengthPrefixed},
    {kStoreStatus, "X-Mms-Store-Status", K::kOctet},
    {kStoreStatusText, "X-Mms-Store-Status-Text", K::kEncodedString},
    {kStored, "X-Mms-Stored", K::kOctet},
    {kAttributes, "X-Mms-Attributes", K::kOctet},
    {kTotals, "X-Mms-Totals", K::kOctet},
    {kMboxTotals, "X-Mms-Mbox-Totals", K::kLengthPrefixed},
    {kQuotas, "X-Mms-Quotas", K::kOctet},
    {kMboxQuotas, "X-Mms-Mbox-Quotas", K::kLengthPrefixed},
    {kMessageCount, "X-Mms-Message-Count", K::kInteger},
    {kContent, "Content", K::kBody},
    {kStart, "X-Mms-Start", K::kInteger},
    {kAdditionalHeaders, "Additional-headers", K::kText},
    {kDistributionIndicator, "X-Mms-Distribution-Indicator", K::kOctet},
    {kElementDescriptor, "X-Mms-Element-Descriptor", K::kLengthPrefixed},
    {kLimit, "X-Mms-Limit", K::kInteger},
    {kRecommendedRetrievalMode, "X-Mms-Recommended-Retrieval-Mode", K::kOctet},
    {kRecommendedRetrievalModeText, "X-Mms-Recommended-Retrieval-Mode-Text",
     K::kEncodedString},
    {kStatusText, "X-Mms-Status-Text", K::kEncodedString},
    {kApplicId, "X-Mms-Applic-ID", K::kText},
    {kReplyApplicId, "X-Mms-Reply-Applic-ID", K::kText},
    {kAuxApplicInfo, "X-Mms-Aux-Applic-Info", K::kText},
    {kContentClass, "X-Mms-Content-Class", K::kOctet},
    {kDrmContent, "X-Mms-DRM-Content", K::kOctet},
    {kAdaptationAllowed, "X-Mms-Adaptation-Allowed", K::kOctet},
    {kReplaceId, "X-Mms-Replace-ID", K::kText},
    {kCancelId, "X-Mms-Cancel-ID", K::kText},
    {kCancelStatus, "X-Mms-Cancel-Status", K::kOctet},
};

constexpr size_t kHeaderCount = sizeof(kHeaders) / sizeof(kHeaders[0]);

constexpr bool RowsAreIndexedByCode() {
  for (size_t i = 0; i < kHeaderCount; ++i) {
    if (kHeaders[i].code != i + 1) {
      return false;
    }
  }
  return true;
}

static_assert(kHeaderCount == 0x3F, "one row per code 0x01..0x3F");
static_assert(RowsAreIndexedByCode(), "rows in code order, no gaps");

// WSP well-known content types, indexed by code 0x00..0x50.
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
    "application/vnd.wap.locc+wbxml",
    "application/vnd.wap.loc+xml",
    "application/vnd.syncml.dm+wbxml",
    "application/vnd.syncml.dm+xml",
    "application/vnd.syncml.notification",
    "application/vnd.wap.xhtml+xml",
    "application/vnd.wv.csp.cir",
    "application/vnd.oma.dd+xml",
    "application/vnd.oma.drm.message",
    "application/vnd.oma.drm.content",
    "application/vnd.oma.drm.rights+xml",
    "application/vnd.oma.drm.rights+wbxml",
    "application/vnd.wv.csp+xml",
    "application/vnd.wv.csp+wbxml",
    "application/vnd.syncml.ds.notification",
    "audio/*",
    "video/*",
};
constexpr size_t kContentTypeCount =
    sizeof(kContentTypes) / sizeof(kContentTypes[0]);
static_assert(kContentTypeCount == 0x51,
              "one content type per code 0x00..0x50");

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

// IANA name and the iconv converter of each character set.
constexpr CharsetRow kCharsets[] = {
    {3, "us-ascii", "US-ASCII"},
    {4, "iso-8859-1", "ISO-8859-1"},
    {5, "iso-8859-2", "ISO-8859-2"},
    {6, "iso-8859-3", "ISO-8859-3"},
    {7, "iso-8859-4", "ISO-8859-4"},
    {8, "iso-8859-5", "ISO-8859-5"},
    {9, "iso-8859-6", "ISO-8859-6"},
    {10, "iso-8859-7", "ISO-8859-7"},
    {11, "iso-8859-8", "ISO-8859-8"},
    {12, "iso-8859-9", "ISO-8859-9"},
    {13, "iso-8859-10", "ISO-8859-10"},
    {17, "shift_jis", "SHIFT_JIS"},
    {18, "euc-jp", "EUC-JP"},
    {36, "ks_c_5601-1987", "CP949"},
    {38, "euc-kr", "EUC-KR"},
    {39, "iso-2022-jp", "ISO-2022-JP"},
    {106, "utf-8", "UTF-8"},
    {109, "iso-8859-13", "ISO-8859-13"},
    {111, "iso-8859-15", "ISO-8859-15"},
    {113, "gbk", "GBK"},
    {114, "gb18030", "GB18030"},
    {1000, "iso-10646-ucs-2", "UCS-2BE"},
    {1013, "utf-16be", "UTF-16BE"},
    {1014, "utf-16le", "UTF-16LE"},
    {1015, "utf-16", "UTF-16"},
    {1017, "utf-32", "UTF-32"},
    {2025, "gb2312", "GB2312"},
    {2026, "big5", "BIG5"},
    {2084, "koi8-r", "KOI8-R"},
    {2088, "koi8-u", "KOI8-U"},
    {2250, "windows-1250", "CP1250"},
    {2251, "windows-1251", "CP1251"},
    {2252, "windows-1252", "CP1252"},
    {2253, "windows-1253", "CP1253"},
    {2254, "windows-1254", "CP1254"},
    {2255, "windows-1255", "CP1255"},
    {2256, "windows-1256", "CP1256"},
    {2257, "windows-1257", "CP1257"},
    {2258, "windows-1258", "CP1258"},
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

const HeaderRow* FindHeader(uint8_t code) {
  const uint8_t bare = code & 0x7F;
  if (bare == 0 || bare > kHeaderCount) {
    return nullptr;
  }
  return &kHeaders[bare - 1];
}

const char* HeaderName(uint8_t code) {
  const HeaderRow* row = FindHeader(code);
  return row == nullptr ? nullptr : row->name;
}

const char* ContentTypeName(uint32_t code) {
  return code < kContentTypeCount ? kContentTypes[code] : nullptr;
}

const char* ParameterName(uint8_t code) {
  const size_t count = sizeof(kParameters) / sizeof(kParameters[0]);
  return code < count && kParameters[code][0] != '\0' ? kParameters[code]
                                                      : nullptr;
}

// Row number + 1 of each MIBenum below 128 (0: none), so that the
// charsets texts usually carry are found without a search.
constexpr size_t kSmallMibs = 128;
constexpr auto kSmallMibRows = [] {
  std::array<uint8_t, kSmallMibs> rows{};
  for (size_t i = 0; i < std::size(kCharsets); ++i) {
    if (kCharsets[i].mib < kSmallMibs) {
      rows[kCharsets[i].mib] = static_cast<uint8_t>(i + 1);
    }
  }
  return rows;
}();

const CharsetRow* FindCharset(uint32_t mib) {
  if (mib < kSmallMibs) {
    return kSmallMibRows[mib] == 0 ? nullptr
                                   : &kCharsets[kSmallMibRows[mib] - 1];
  }
  for (const CharsetRow& row : kCharsets) {
    if (row.mib == mib) {
      return &row;
    }
  }
  return nullptr;
}

const char* CharsetName(uint32_t mib) {
  const CharsetRow* row = FindCharset(mib);
  return row == nullptr ? nullptr : row->name;
}

const CharsetRow* FindCharsetByName(const char* name, size_t size) {
  for (const CharsetRow& row : kCharsets) {
    if (std::strlen(row.name) == size &&
        strncasecmp(row.name, name, size) == 0) {
      return &row;
    }
  }
  return nullptr;
}

// ContentTypeCode's buckets: names of at most kMaxTypeLength characters,
// at most kMaxSameLength of each length.
constexpr size_t kMaxTypeLength = 48;
constexpr size_t kMaxSameLength = 8;
constexpr bool TypesFitBuckets() {
  size_t count[kMaxTypeLength + 1] = {};
  for (const char* name : kContentTypes) {
    const size_t n = std::char_traits<char>::length(name);
    if (n > kMaxTypeLength || ++count[n] > kMaxSameLength) {
      return false;
    }
  }
  return true;
}
static_assert(TypesFitBuckets(), "ContentTypeCode's buckets hold every name");

uint32_t ContentTypeCode(const char* text, size_t size) {
  // The codes of each length, built once: a part's textual media type is
  // looked up here, and most such types are in no row.
  constexpr size_t kMaxLength = kMaxTypeLength;
  struct Bucket {
    uint8_t count = 0;
    uint8_t codes[kMaxSameLength] = {};
  };
  static const auto buckets = [] {
    std::array<Bucket, kMaxLength + 1> table{};
    for (size_t i = 0; i < kContentTypeCount; ++i) {
      Bucket& bucket = table[std::strlen(kContentTypes[i])];
      bucket.codes[bucket.count++] = static_cast<uint8_t>(i);
    }
    return table;
  }();
  if (size > kMaxLength) {
    return kNoCode;
  }
  // Most candidates differ early: a plain loop beats a library call per
  // candidate.
  const Bucket& bucket = buckets[size];
  for (uint8_t k = 0; k < bucket.count; ++k) {
    const char* name = kContentTypes[bucket.codes[k]];
    size_t i = 0;
    while (i < size && AsciiLower(name[i]) == AsciiLower(text[i])) {
      ++i;
    }
    if (i == size) {
      return bucket.codes[k];
    }
  }
  return kNoCode;
}

const char* WspHeaderName(uint8_t code) {
  for (const NumberName& row : kWspHeaders) {
    if (row.number == code) {
      return row.name;
    }
  }
  return nullptr;
}

}  // namespace mms::codec
