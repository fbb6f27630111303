// A designer on one form, driven by command lines: the palette, components
// made by class name and selected, the inspector's view of their published
// properties through the registered editors, and the form file. It knows the
// components only through the design registry. What `quorlink inspect` runs.
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "quorlink/core/Forms.h"
#include "quorlink/design/DesignEditors.h"

namespace quorlink {

class TDesignSession {
 public:
  // Results go to out, failures ("error: " and the message) to err.
  TDesignSession(std::ostream& out, std::ostream& err);
  ~TDesignSession();
  TDesignSession(const TDesignSession&) = delete;
  TDesignSession& operator=(const TDesignSession&) = delete;

  // One command; false when it failed (nothing then changed) or is unknown.
  bool Execute(const std::string& line);
  bool Finished() const { return finished_; }

  // The words that may complete the last word of a partial line.
  std::vector<std::string> Complete(const std::string& line) const;
  static std::string HelpText();

  TForm& Form() { return *form_; }
  const std::vector<TComponent*>& Selection() const { return selection_; }
  // Runs before an editor's Edit (a dialog may need the platform ready).
  std::function<void(const TPropertyEditor& editor)> BeforeDialog;

 private:
  using Words = std::vector<std::string>;
  void Palette();
  void New(const Words& w);
  void Select(const Words& w);
  void List();
  void Show(const Words& w);
  void Set(const Words& w, const std::string& value);
  void Values(const Words& w);
  void Edit(const Words& w);
  void Write(const Words& w);
  void Read(const Words& w);
  void Delete(const Words& w);
  // Raises when the selection cannot take the name: the form's name and its
  // components' are one name space.
  void CheckNewName(const std::string& name) const;

  TComponent* Find(const std::string& name) const;
  // The properties the inspector shows for the selection, in order.
  std::vector<std::string> CommonProperties() const;
  std::vector<std::string> SortedValues(const std::string& property) const;
  void ShowProperty(const std::string& property);

  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<TForm, void (*)(TForm*)> form_;
  std::vector<TComponent*> selection_;
  bool finished_ = false;
};

}  // namespace quorlink
