// Descriptions of the plain types that many classes' published properties
// share, made once.
#pragma once

#include "quorlink/core/TypInfo.h"

namespace quorlink {

extern const TTypeInfo kStringType;    // string
extern const TTypeInfo kWordType;      // Word: 0..0xFFFF
extern const TTypeInfo kCardinalType;  // Cardinal: 0..0xFFFFFFFF

}  // namespace quorlink
