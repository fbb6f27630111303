#include "quorlink/core/Classes.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "core/StandardTypes.h"

namespace quorlink {

std::function<void(TObject* sender)> ApplicationHandleException;

void HandleException(TObject* sender) noexcept {
  // A copy: the hook may replace or clear itself while it runs.
  const auto hook = ApplicationHandleException;
  if (!hook) return;
  try {
    hook(sender);
  } catch (...) {
    // A hook that raises has nowhere further to pass it.
  }
}

void Free(TObject* object) {
  if (object == nullptr) return;
  try {
    object->BeforeDestruction();
  } catch (...) {
    delete object;
    throw;
  }
  delete object;
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_ != nullptr) {
    if (!name_.empty()) owner_->names_.erase(NameKey(name_));
    // From the back: the newest are freed first, so this stays constant time
    // when many are freed in turn.
    auto& siblings = owner_->components_;
    auto it = std::find(siblings.rbegin(), siblings.rend(), this);
    if (it != siblings.rend()) siblings.erase(std::next(it).base());
  }
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    if (!last->name_.empty()) names_.erase(NameKey(last->name_));
    last->owner_ = nullptr;
    try {
      Free(last);
    } catch (...) {
      HandleException(this);
    }
  }
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return components_[static_cast<std::size_t>(index)];
}

std::string TComponent::NameKey(std::string_view name) {
  return LowerCase(name);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  auto it = names_.find(NameKey(name));
  return it != names_.end() ? it->second : nullptr;
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  auto identStart = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  auto identChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  if (!name.empty() && (!identStart(name[0]) || !std::all_of(name.begin(), name.end(), identChar)))
    throw Exception("'" + name + "' is not a valid component name");
  if (owner_ != nullptr) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw Exception("A component named " + name + " already exists");
  }
  std::string renamed = name;
  if (owner_ != nullptr) {
    // The new entry first: if that fails, nothing has changed.
    std::string newKey = NameKey(renamed), oldKey = NameKey(name_);
    if (newKey != oldKey) {
      if (!newKey.empty()) owner_->names_.emplace(std::move(newKey), this);
      if (!oldKey.empty()) owner_->names_.erase(oldKey);
    }
  }
  name_.swap(renamed);
}

const TTypeInfo kStringType{TTypeKind::tkString, "string", {}, 0, 0};
const TTypeInfo kWordType{TTypeKind::tkInteger, "Word", {}, 0, 0xFFFF};
const TTypeInfo kCardinalType{TTypeKind::tkInteger, "Cardinal", {}, 0, 0xFFFFFFFF};

namespace {
const TTypeInfo kTagType{TTypeKind::tkInteger, "NativeInt", {}, INTPTR_MIN, INTPTR_MAX};
}  // namespace

void TComponent::GetProperties(TPropList& list) const {
  TPropInfo name{"Name", &kStringType, true, {}, {}, {}, {}, {}, {}};
  name.GetStr = [](const TComponent& c) { return c.Name(); };
  name.SetStr = [](TComponent& c, const std::string& v) { c.SetName(v); };
  list.push_back(std::move(name));
  TPropInfo tag{"Tag", &kTagType, true, {}, {}, {}, {}, {}, {}};
  tag.GetOrd = [](const TComponent& c) { return static_cast<std::int64_t>(c.Tag()); };
  tag.SetOrd = [](TComponent& c, std::int64_t v) { c.SetTag(static_cast<std::intptr_t>(v)); };
  list.push_back(std::move(tag));
}

TPropList TComponent::Properties() const {
  TPropList list;
  GetProperties(list);
  return list;
}

}  // namespace quorlink
