/// @file
/// The designer's registry: palette pages with their component classes, and
/// which property editor serves a published property of a component class.
/// What the host's RegisterComponents and RegisterPropertyEditor fill; the
/// inspector asks only this. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/FormStream.h"
#include "quorlink/core/TypInfo.h"
#include "quorlink/design/DesignEditors.h"

namespace quorlink {

/// A class reference: a component class by name, whether another class
/// descends from it, and how to make one (abstract classes cannot be made).
class QUORLINK_API TComponentClass {
 public:
  template <class T>
  static TComponentClass Of(const char* name) {
    static_assert(std::is_base_of_v<TComponent, T>);
    TComponentClass c;
    c.name_ = name;
    c.type_ = &typeid(T);
    c.throwPointer_ = [] { throw static_cast<T*>(nullptr); };
    c.catchesPointer_ = [](void (*thrower)()) {
      /// A handler for T* catches a pointer to any class derived from T: the
      /// language's own test of descent, with both types erased.
      try {
        thrower();
      } catch (T*) {
        return true;
      } catch (...) {
      }
      return false;
    };
    c.isInstance_ = [](const TComponent& x) { return dynamic_cast<const T*>(&x) != nullptr; };
    if constexpr (!std::is_abstract_v<T>)
      c.factory_ = [](TComponent* owner) -> TComponent* { return new T(owner); };
    return c;
  }

  const std::string& ClassName() const { return name_; }
  /// True when this class is ancestor itself or descends from it.
  bool InheritsFrom(const TComponentClass& ancestor) const {
    return ancestor.catchesPointer_(throwPointer_);
  }
  bool IsInstance(const TComponent& component) const { return isInstance_(component); }
  bool IsAbstract() const { return !factory_; }
  const TComponentFactory& Factory() const { return factory_; }
  friend bool operator==(const TComponentClass& a, const TComponentClass& b) {
    return *a.type_ == *b.type_;
  }

 private:
  TComponentClass() = default;
  std::string name_;
  const std::type_info* type_ = nullptr;
  void (*throwPointer_)() = nullptr;
  bool (*catchesPointer_)(void (*)()) = nullptr;
  bool (*isInstance_)(const TComponent&) = nullptr;
  TComponentFactory factory_;
};

/// A property editor class: its name and how to make one.
struct TPropertyEditorClass {
  std::string Name;
  std::unique_ptr<TPropertyEditor> (*Create)();
};
template <class E>
TPropertyEditorClass EditorClass() {
  static_assert(std::is_base_of_v<TPropertyEditor, E>);
  return {E::kClassName,
          []() -> std::unique_ptr<TPropertyEditor> { return std::make_unique<E>(); }};
}

struct TPalettePage {
  std::string Name;
  std::vector<TComponentClass> Classes;
};

class QUORLINK_API TDesignRegistry {
 public:
  /// Appends the classes to the page (made when new), each once, and makes
  /// them known to form reading so that a designed form can be read back.
  void RegisterComponents(const std::string& page, const std::vector<TComponentClass>& classes);
  /// Properties of type propertyType (matched by kind and name) of
  /// componentClass and its descendants (any class when null) called
  /// propertyName (any such property when empty) get the editor. The most
  /// derived class wins, then a named property over any; among equals the
  /// later registration.
  void RegisterPropertyEditor(const TTypeInfo& propertyType, const TComponentClass* componentClass,
                              const std::string& propertyName, TPropertyEditorClass editorClass);

  const std::vector<TPalettePage>& Pages() const { return pages_; }
  /// Among the registered components, by name without regard to case; null
  /// when there is none.
  const TComponentClass* FindComponentClass(const std::string& name) const;
  /// The editor class for a property of a component class: a registered one,
  /// else the family's own for the property's kind.
  TPropertyEditorClass GetEditorClass(const TComponentClass& componentClass,
                                      const TPropInfo& property) const;
  /// The same, for the class of a component on the form.
  TPropertyEditorClass GetEditorClass(const TComponent& component, const TPropInfo& property) const;

 private:
  struct EditorRegistration {
    TTypeInfo Type;
    std::unique_ptr<TComponentClass> Class;
    std::string Property;
    TPropertyEditorClass Editor;
  };
  template <class InheritsFrom>
  TPropertyEditorClass Find(const TPropInfo& property, InheritsFrom inheritsFrom) const;

  std::vector<TPalettePage> pages_;
  std::vector<EditorRegistration> editors_;
};

/// The registry the host's calls fill.
QUORLINK_API TDesignRegistry& DesignRegistry();
/// Installs another registry for a while (tests, a fresh designer); returns
/// the previous one; nullptr restores the process's own.
QUORLINK_API TDesignRegistry* SetDesignRegistry(TDesignRegistry* registry);

QUORLINK_API void RegisterComponents(const std::string& page,
                                     const std::vector<TComponentClass>& classes);
QUORLINK_API void RegisterPropertyEditor(const TTypeInfo& propertyType,
                                         const TComponentClass* componentClass,
                                         const std::string& propertyName,
                                         TPropertyEditorClass editorClass);

/// An editor for one property over the selection, made as the designer makes
/// it: the editor class that serves each selected component's class (the same
/// for all, or the property is not common to the selection), initialised with
/// every selected component. Raises EPropertyError when the property is not
/// common to the selection.
QUORLINK_API std::unique_ptr<TPropertyEditor> MakePropertyEditor(
    const std::vector<TComponent*>& selection, const std::string& propertyName);

}  // namespace quorlink
