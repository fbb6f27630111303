#include "quorlink/core/TextPresenter.h"
#include "platform/FormPresenter.h"

namespace quorlink::platform {

TFormPresenter& OsFormPresenter() {
  static TTextPresenter console;
  return console;
}

}  // namespace quorlink::platform
