#pragma once
// Library-wide state of the stills half shared with the motion half.

#include "qel/qel.h"

#include <cstdint>

namespace qel {

// The last libjpeg message of a stills operation.
extern char gErrorText[kQelErrorTextBytes];
// What QEL_SaveDIB writes ahead of the stream: SOI, JFIF APP0, comment.
extern const uint8_t kStillHeader[kQelStillHeaderBytes];

}  // namespace qel
