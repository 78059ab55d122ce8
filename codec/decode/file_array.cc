// file_array.cc: the decoder's one write to the record's private capacity.
//
// The model checks every index against m_nFileArrayCapacity, so whoever
// replaces m_pFileNameArray must set it too. The decoder is not a friend of
// the record; rather than widen the public header, it reaches that one
// field through an explicit template instantiation, which the language
// exempts from access checks.
#include "codec/decode/file_array.h"

namespace mms::codec {
namespace {

using CapacityMember = int MMS_Custom_Data::*;

struct CapacityField {
  static CapacityMember member;
};
CapacityMember CapacityField::member = nullptr;

template <CapacityMember M>
struct CapacityGrab {
  CapacityGrab() { CapacityField::member = M; }
  static CapacityGrab instance;
};
template <CapacityMember M>
CapacityGrab<M> CapacityGrab<M>::instance;

template struct CapacityGrab<&MMS_Custom_Data::m_nFileArrayCapacity>;

}  // namespace

bool RemakeFileArray(MMS_Custom_Data* message, int entries) {
  if (message == nullptr || entries < 1 || CapacityField::member == nullptr) {
    return false;
  }
  auto* array = static_cast<char(*)[260]>(
      LocalAlloc(LPTR, static_cast<size_t>(entries) * 260));
  if (array == nullptr) {
    return false;
  }
  LocalFree(message->m_pFileNameArray);
  message->m_pFileNameArray = array;
  message->m_nFileNum = entries;
  message->*CapacityField::member = entries;
  return true;
}

}  // namespace mms::codec
