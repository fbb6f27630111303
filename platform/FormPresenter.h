// The presenter a form uses when the program has installed none: defined by
// the build's OS backend (a real window on Windows, text on the console
// elsewhere).
#pragma once

#include "quorlink/core/Forms.h"

namespace quorlink::platform {

TFormPresenter& OsFormPresenter();

}  // namespace quorlink::platform
