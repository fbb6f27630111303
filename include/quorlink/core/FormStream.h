/// @file
/// Stored forms: the stored published properties of a component, and of the
/// components it owns, as readable text, and reading them back. Main thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/TypInfo.h"

namespace quorlink {

/// Makes a component of one class, owned by the given owner.
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

///@{
/// What RegisterClass and UnregisterClass call.
QUORLINK_API void RegisterComponentClass(const std::string& className, TComponentFactory factory);
QUORLINK_API void UnregisterComponentClass(const std::string& className);
///@}
/// The classes a form may create when it names an owned component that does
/// not exist yet. Registering a name again replaces its factory.
/// (RegisterClass and UnregisterClass are inline: <windows.h> makes them
/// macros, RegisterClassA or RegisterClassW by UNICODE, and each program
/// finds the spelling it sees.)
inline void RegisterClass(const std::string& className, TComponentFactory factory) {
  RegisterComponentClass(className, std::move(factory));
}
/// Registers class T under the name, made with `new T(owner)`.
template <class T>
void RegisterClass(const std::string& className) {
  RegisterComponentClass(className, [](TComponent* owner) -> TComponent* { return new T(owner); });
}
/// Forgets a registered class.
inline void UnregisterClass(const std::string& className) {
  UnregisterComponentClass(className);
}
/// Empty when the class is not registered.
QUORLINK_API TComponentFactory FindClass(const std::string& className);

/// "object Name: TClass", one "Property = value" line per stored property,
/// the named owned components nested the same way, "end". Properties that are
/// not stored, events without a method name and unnamed owned components are
/// left out.
QUORLINK_API std::string WriteForm(const TComponent& root);

/// The deepest nesting a form may have: the root object is level 1, each
/// owned component one level below its owner. A form that opens an object
/// deeper fails like any other bad form (EReadError naming that line), so a
/// hostile form cannot exhaust the stack of whatever walks the component tree.
inline constexpr int MaxFormDepth = 256;

/// Reads a form into root: owned components are found by name, or made
/// through the class registry with their owner; events are bound by name
/// through methods; an unnamed root ("object TClass") keeps its name. A bad
/// form raises EReadError naming the line, before anything changes. A setter
/// that raises while the values are applied has every applied value put back
/// (and components made by the read freed) before its exception passes on.
/// Values of properties that are not stored are checked like any other and
/// then ignored: they only report constants. Memory grows with the number of
/// values and their size, not with the nesting; an error message quotes at
/// most a short excerpt of the text.
void ReadForm(TComponent& root, std::string_view text, const TMethodTable& methods = {});

}  // namespace quorlink
