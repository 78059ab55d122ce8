// mms_entries.cc: the library's own Connection Manager entries: the
// provisioning document of the temporary network, the access point query,
// the removal of the temporary keys, and "CurrentID".
#include "connmgr/mms_entries.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <string_view>

#include "mms.h"
#include "platform/registry.h"

namespace mms::connmgr {
namespace {

constexpr wchar_t kNewNetworkId[] = L"{D1D06580-C364-55ec-9421-6ACF34129C58}";
constexpr wchar_t kProxyTargetId[] = L"{436EF144-B4FB-4863-A041-8F905A62C572}";

// Deleted in this order.
const wchar_t* const kTemporaryKeys[] = {
    L"Comm\\ConnMgr\\Destinations\\中国移动彩信中心",
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections\\中国移动彩信中心",
};

constexpr size_t kQueryChars = 520;  // query buffer, terminator included
constexpr size_t kApnChars = 259;    // longest access point name read

// The documents are written here rather than with pugixml, which closes
// every empty element with " />": the query's parm-query takes "/>".
// Attribute text: the entry name and proxy come from outside.
std::wstring Escaped(const std::wstring& text) {
  constexpr std::wstring_view kSpecial = L"&<>\"";
  constexpr const wchar_t* kEntities[] = {L"&amp;", L"&lt;", L"&gt;",
                                          L"&quot;"};
  std::wstring out;
  for (wchar_t c : text) {
    const size_t special = kSpecial.find(c);
    if (special == std::wstring_view::npos) {
      out += c;
    } else {
      out += kEntities[special];
    }
  }
  return out;
}

std::wstring Parm(const wchar_t* name, const std::wstring& value) {
  return std::wstring(L"<parm name=\"") + name + L"\" value=\"" + value +
         L"\" />";
}

std::wstring ProvisioningDocument(const std::wstring& proxy) {
  const std::wstring name = kConnectionName;
  std::wstring doc = L"<wap-provisioningdoc>";
  doc += L"<characteristic type=\"CM_Networks\">";
  doc += L"<characteristic type=\"" + name + L"\">";
  doc += Parm(L"DestId", kNewNetworkId);
  doc += L"</characteristic></characteristic>";
  doc += L"<characteristic type=\"CM_GPRSEntries\">";
  doc += L"<characteristic type=\"" + name + L"\">";
  doc += Parm(L"DestId", kNewNetworkId);
  doc += L"<characteristic type=\"DevSpecificCellular\">";
  doc += Parm(L"BearerInfoValid", L"1");
  doc += Parm(L"GPRSInfoValid", L"1");
  doc += Parm(L"GPRSInfoProtocolType", L"2");
  doc += Parm(L"GPRSInfoL2ProtocolType", L"PPP");
  doc += Parm(L"GPRSInfoAccessPointName", kCmwap);
  doc += Parm(L"GPRSInfoAddress", L"");
  doc += Parm(L"GPRSInfoDataCompression", L"1");
  doc += Parm(L"GPRSInfoHeaderCompression", L"1");
  doc += Parm(L"GPRSInfoParameters", L"");
  doc += L"</characteristic></characteristic></characteristic>";
  // An operator without a WAP proxy gets no proxy entry at all.
  if (!proxy.empty()) {
    doc += L"<characteristic type=\"CM_ProxyEntries\">";
    doc += L"<characteristic type=\"WAP\">";
    doc += Parm(L"SrcId", kNewNetworkId);
    doc += Parm(L"DestId", kProxyTargetId);
    doc += Parm(L"Proxy", Escaped(proxy));
    doc += Parm(L"Enable", L"1");
    doc += Parm(L"Type", L"1");
    doc += L"</characteristic></characteristic>";
  }
  doc += L"</wap-provisioningdoc>";
  return doc;
}

// The access-point query for one entry; false when it does not fit the
// query buffer (the entry is then not asked about).
bool QueryDocument(const wchar_t* entry_name, std::wstring* doc) {
  *doc =
      L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"" +
      Escaped(entry_name) +
      L"\"><characteristic type=\"DevSpecificCellular\">"
      L"<parm-query name=\"GPRSInfoAccessPointName\"/>"
      L"</characteristic></characteristic></characteristic>"
      L"</wap-provisioningdoc>";
  return doc->size() < kQueryChars;
}

}  // namespace

HRESULT ProvisionTemporaryEntries(const std::wstring& proxy) {
  const std::wstring doc = ProvisioningDocument(proxy);
  wchar_t* answer = nullptr;
  const HRESULT hr = DMProcessConfigXML(doc.c_str(), CFGFLAG_PROCESS, &answer);
  delete[] answer;
  return hr;
}

bool AccessPointName(const wchar_t* entry_name, std::wstring* apn) {
  std::wstring query;
  if (!QueryDocument(entry_name, &query)) {
    return false;
  }
  wchar_t* answer = nullptr;
  (void)DMProcessConfigXML(query.c_str(), CFGFLAG_PROCESS, &answer);
  apn->clear();
  if (answer != nullptr) {
    std::wstring text = answer;
    delete[] answer;
    for (wchar_t& c : text) {
      c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    const size_t value = text.find(L"value");
    const size_t open =
        value == std::wstring::npos ? value : text.find(L'"', value);
    const size_t close =
        open == std::wstring::npos ? open : text.find(L'"', open + 1);
    if (close != std::wstring::npos) {
      *apn = text.substr(open + 1, std::min(close - open - 1, kApnChars));
    }
  }
  return true;
}

GUID RememberedDestination() {
  GUID destination = {};
  std::wstring key = kMmsKey;
  std::wstring name = kCurrentId;
  RegGetValue(key.data(), name.data(), &destination, sizeof(destination));
  return destination;
}

void RememberDestination(const GUID& destination) {
  std::wstring key = kMmsKey;
  std::wstring name = kCurrentId;
  unsigned char bytes[sizeof(GUID)];
  std::memcpy(bytes, &destination, sizeof(bytes));
  RegSetBinary(key.data(), name.data(), bytes);
}

}  // namespace mms::connmgr

int RemoveMMSConnectionEntries(void) {
  for (const wchar_t* path : mms::connmgr::kTemporaryKeys) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
      continue;
    }
    RegCloseKey(key);
    if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS) {
      return 0;
    }
  }
  return 1;
}
