// config_xml.cc: DMProcessConfigXML, the provisioning entry point: applies
// CM_Networks, CM_GPRSEntries and CM_ProxyEntries to the Connection
// Manager's keys and answers parm-query elements in place.
//
// Parms nested below an entry (DevSpecificCellular and the like) are kept
// as values of the entry's own key. The answer is the document itself with
// each parm-query turned into a parm carrying the stored value. A document
// with an unknown section changes nothing.
#include <cstring>
#include <cwchar>
#include <new>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "connmgr/connmgr.h"
#include "connmgr/connmgr_entries.h"
#include "platform/text_convert.h"

namespace mms::connmgr {

using platform::Utf8ToWideText;
using platform::WideToUtf8Text;

namespace {

constexpr char kNetworks[] = "CM_Networks";
constexpr char kGprsEntries[] = "CM_GPRSEntries";
constexpr char kProxyEntries[] = "CM_ProxyEntries";

bool Wide(const char* utf8, std::wstring* wide) {
  return Utf8ToWideText(utf8, wide);
}

// A key name from a document: one registry path component.
bool KeyName(const char* utf8, std::wstring* name) {
  return Wide(utf8, name) && !name->empty() &&
         name->find(L'\\') == std::wstring::npos;
}

bool IsCharacteristic(const pugi::xml_node& node) {
  return std::strcmp(node.name(), "characteristic") == 0;
}

using Writes = std::vector<std::pair<std::wstring, std::wstring>>;

// Collects the parms below node and the parm-queries to answer.
HRESULT CollectParms(pugi::xml_node node, Writes* writes,
                     std::vector<pugi::xml_node>* queries) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    std::wstring name;
    if (std::strcmp(child.name(), "parm") == 0) {
      std::wstring value;
      if (!Wide(child.attribute("name").value(), &name) || name.empty() ||
          !Wide(child.attribute("value").value(), &value)) {
        return E_INVALIDARG;
      }
      writes->emplace_back(name, value);
    } else if (std::strcmp(child.name(), "parm-query") == 0) {
      if (!Wide(child.attribute("name").value(), &name) || name.empty()) {
        return E_INVALIDARG;
      }
      queries->push_back(child);
    } else if (IsCharacteristic(child)) {
      const HRESULT hr = CollectParms(child, writes, queries);
      if (hr != S_OK) {
        return hr;
      }
    } else {
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

// Turns each parm-query into a parm carrying the value stored in key.
HRESULT Answer(const std::wstring& key,
               const std::vector<pugi::xml_node>& queries) {
  for (pugi::xml_node query : queries) {
    std::wstring name;
    std::wstring value;
    std::string utf8;
    if (!Wide(query.attribute("name").value(), &name) ||
        !ReadText(key, name.c_str(), &value) || !WideToUtf8Text(value, &utf8)) {
      return E_FAIL;
    }
    query.set_name("parm");
    query.append_attribute("value") = utf8.c_str();
  }
  return S_OK;
}

// The key a proxy entry of this section is kept under.
bool ProxyKey(pugi::xml_node entry, std::wstring* key) {
  std::wstring type;
  if (!KeyName(entry.attribute("type").value(), &type)) {
    return false;
  }
  *key = std::wstring(kProxiesKey) + L"\\" + type;
  pugi::xml_node source =
      entry.find_child_by_attribute("parm", "name", "SrcId");
  std::wstring source_id;
  if (source && KeyName(source.attribute("value").value(), &source_id)) {
    *key += L"\\" + source_id;
  }
  return true;
}

HRESULT ApplySection(pugi::xml_node section) {
  const char* type = section.attribute("type").value();
  for (pugi::xml_node entry : section.children()) {
    if (entry.type() != pugi::node_element) {
      continue;
    }
    if (!IsCharacteristic(entry)) {
      return E_INVALIDARG;
    }
    std::wstring name;
    std::wstring key;
    if (std::strcmp(type, kProxyEntries) == 0) {
      if (!ProxyKey(entry, &key)) {
        return E_INVALIDARG;
      }
    } else if (!KeyName(entry.attribute("type").value(), &name)) {
      return E_INVALIDARG;
    } else {
      key = std::wstring(std::strcmp(type, kNetworks) == 0 ? kDestinationsKey
                                                           : kConnectionsKey) +
            L"\\" + name;
    }
    Writes writes;
    std::vector<pugi::xml_node> queries;
    const HRESULT hr = CollectParms(entry, &writes, &queries);
    if (hr != S_OK) {
      return hr;
    }
    if (!writes.empty()) {
      if (!WriteTexts(key, writes)) {
        return E_FAIL;
      }
      if (std::strcmp(type, kGprsEntries) == 0 &&
          !WriteDword(key, kProvisionedValue, 1)) {
        return E_FAIL;
      }
    }
    const HRESULT answered = Answer(key, queries);
    if (answered != S_OK) {
      return answered;
    }
  }
  return S_OK;
}

bool KnownSection(pugi::xml_node section) {
  if (!IsCharacteristic(section)) {
    return false;
  }
  const char* type = section.attribute("type").value();
  return std::strcmp(type, kNetworks) == 0 ||
         std::strcmp(type, kGprsEntries) == 0 ||
         std::strcmp(type, kProxyEntries) == 0;
}

HRESULT Process(const wchar_t* document, std::wstring* answer) {
  pugi::xml_document doc;
  const size_t bytes = std::wcslen(document) * sizeof(wchar_t);
  if (!doc.load_buffer(document, bytes, pugi::parse_default,
                       pugi::encoding_wchar)) {
    return E_INVALIDARG;
  }
  pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "wap-provisioningdoc") != 0) {
    return E_INVALIDARG;
  }
  for (pugi::xml_node section : root.children()) {
    if (section.type() == pugi::node_element && !KnownSection(section)) {
      return E_FAIL;
    }
  }
  for (pugi::xml_node section : root.children()) {
    if (section.type() != pugi::node_element) {
      continue;
    }
    const HRESULT hr = ApplySection(section);
    if (hr != S_OK) {
      return hr;
    }
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration,
           pugi::encoding_utf8);
  return Utf8ToWideText(out.str(), answer) ? S_OK : E_FAIL;
}

}  // namespace

}  // namespace mms::connmgr

HRESULT DMProcessConfigXML(const wchar_t* document, DWORD flags,
                           wchar_t** result) {
  using namespace mms::connmgr;
  if (result != nullptr) {
    *result = nullptr;
  }
  if (document == nullptr || result == nullptr) {
    return E_INVALIDARG;
  }
  RecordDocument(document);
  if ((flags & CFGFLAG_PROCESS) == 0) {
    return E_INVALIDARG;
  }
  std::wstring answer;
  const HRESULT hr = Process(document, &answer);
  if (hr != S_OK) {
    return hr;
  }
  *result = new (std::nothrow) wchar_t[answer.size() + 1];
  if (*result == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::wmemcpy(*result, answer.c_str(), answer.size() + 1);
  return S_OK;
}
