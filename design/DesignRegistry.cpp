#include "quorlink/design/DesignRegistry.h"

#include <cctype>

namespace quorlink {

namespace {

TDesignRegistry*& Installed() {
  static TDesignRegistry* installed = nullptr;
  return installed;
}

TPropertyEditorClass DefaultEditor(TTypeKind kind) {
  switch (kind) {
    case TTypeKind::tkInteger:
      return EditorClass<TIntegerProperty>();
    case TTypeKind::tkString:
      return EditorClass<TStringProperty>();
    case TTypeKind::tkEnumeration:
      return EditorClass<TEnumProperty>();
    case TTypeKind::tkSet:
      return EditorClass<TSetProperty>();
    case TTypeKind::tkMethod:
      return EditorClass<TMethodProperty>();
  }
  return EditorClass<TPropertyEditor>();
}

// a strictly below b; a null class stands for any class.
bool MoreDerived(const TComponentClass* a, const TComponentClass* b) {
  if (a == nullptr) return false;
  if (b == nullptr) return true;
  return !(*a == *b) && a->InheritsFrom(*b);
}

}  // namespace

void TDesignRegistry::RegisterComponents(const std::string& page,
                                         const std::vector<TComponentClass>& classes) {
  TPalettePage* target = nullptr;
  for (TPalettePage& p : pages_)
    if (SameText(p.Name, page)) target = &p;
  if (target == nullptr) target = &pages_.emplace_back(TPalettePage{page, {}});
  for (const TComponentClass& c : classes) {
    if (c.IsAbstract()) throw EPropertyError("Cannot register the abstract class " + c.ClassName());
    bool known = false;
    for (const TComponentClass& k : target->Classes) known = known || k == c;
    if (!known) target->Classes.push_back(c);
    RegisterClass(c.ClassName(), c.Factory());
  }
}

void TDesignRegistry::RegisterPropertyEditor(const TTypeInfo& propertyType,
                                             const TComponentClass* componentClass,
                                             const std::string& propertyName,
                                             TPropertyEditorClass editorClass) {
  editors_.push_back({propertyType,
                      componentClass ? std::make_unique<TComponentClass>(*componentClass) : nullptr,
                      propertyName, std::move(editorClass)});
}

const TComponentClass* TDesignRegistry::FindComponentClass(const std::string& name) const {
  for (const TPalettePage& p : pages_)
    for (const TComponentClass& c : p.Classes)
      if (SameText(c.ClassName(), name)) return &c;
  return nullptr;
}

template <class InheritsFrom>
TPropertyEditorClass TDesignRegistry::Find(const TPropInfo& property,
                                           InheritsFrom inheritsFrom) const {
  const EditorRegistration* best = nullptr;
  for (const EditorRegistration& r : editors_) {
    if (r.Type.Kind != property.Type->Kind || !SameText(r.Type.Name, property.Type->Name)) continue;
    if (!r.Property.empty() && !SameText(r.Property, property.Name)) continue;
    if (r.Class && !inheritsFrom(*r.Class)) continue;
    // Both classes lie on the one line of ancestors of the class asked
    // about, so unless they are the same, one descends from the other.
    if (best != nullptr) {
      if (MoreDerived(best->Class.get(), r.Class.get())) continue;
      if (!MoreDerived(r.Class.get(), best->Class.get()) && !best->Property.empty() &&
          r.Property.empty())
        continue;
    }
    best = &r;
  }
  return best ? best->Editor : DefaultEditor(property.Type->Kind);
}

TPropertyEditorClass TDesignRegistry::GetEditorClass(const TComponentClass& componentClass,
                                                     const TPropInfo& property) const {
  return Find(property, [&](const TComponentClass& c) { return componentClass.InheritsFrom(c); });
}

TPropertyEditorClass TDesignRegistry::GetEditorClass(const TComponent& component,
                                                     const TPropInfo& property) const {
  return Find(property, [&](const TComponentClass& c) { return c.IsInstance(component); });
}

TDesignRegistry& DesignRegistry() {
  static TDesignRegistry own;
  TDesignRegistry* installed = Installed();
  return installed != nullptr ? *installed : own;
}

TDesignRegistry* SetDesignRegistry(TDesignRegistry* registry) {
  TDesignRegistry* previous = Installed();
  Installed() = registry;
  return previous;
}

void RegisterComponents(const std::string& page, const std::vector<TComponentClass>& classes) {
  DesignRegistry().RegisterComponents(page, classes);
}

void RegisterPropertyEditor(const TTypeInfo& propertyType, const TComponentClass* componentClass,
                            const std::string& propertyName, TPropertyEditorClass editorClass) {
  DesignRegistry().RegisterPropertyEditor(propertyType, componentClass, propertyName,
                                          std::move(editorClass));
}

std::unique_ptr<TPropertyEditor> MakePropertyEditor(const std::vector<TComponent*>& selection,
                                                    const std::string& propertyName) {
  if (selection.empty()) throw EPropertyError("No component selected");
  std::string editorName;
  TPropertyEditorClass editorClass{};
  for (TComponent* c : selection) {
    const TPropInfo* found = nullptr;
    const TPropList props = c->Properties();
    for (const TPropInfo& p : props)
      if (SameText(p.Name, propertyName)) found = &p;
    if (found == nullptr)
      throw EPropertyError(std::string(c->ClassName()) + " has no property " + propertyName);
    TPropertyEditorClass e = DesignRegistry().GetEditorClass(*c, *found);
    if (editorName.empty()) {
      editorName = e.Name;
      editorClass = e;
    } else if (e.Name != editorName) {
      throw EPropertyError("Property " + propertyName + " is not common to the selection");
    }
  }
  auto editor = editorClass.Create();
  editor->Initialize(selection, propertyName);
  return editor;
}

}  // namespace quorlink
