// A recording stand-in for the windowing system: it keeps the state the window would
// show (texts, enabling, list rows), records every dialog and message box, and answers
// them from scripts the test fills in beforehand.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/platform.h"

namespace testutil {

struct ShownMessage {
  std::string text;
  std::string caption;
  ui::MessageIcon icon;
  bool question;
};

struct DialogCall {
  bool save;  // save dialog rather than open dialog
  ui::FileDialogRequest request;
};

class FakePlatform : public ui::Platform {
 public:
  // Scripts: the path each file dialog returns (none = cancel), and the answer to each
  // question. A dialog or question without a script fails the test.
  std::deque<std::optional<std::string>> dialogAnswers;
  std::deque<bool> questionAnswers;
  std::function<bool(int)> onProperties;  // runs for RunEntryProperties

  // What the window shows.
  std::map<int, std::string> texts;
  std::map<int, bool> controlEnabled;
  std::map<int, bool> menuEnabled;
  std::vector<std::pair<std::string, int>> columns;
  std::map<int, int> columnWidths;
  std::vector<std::vector<std::string>> rows;
  int selectedRow = -1;
  int visibleRows = 8;

  // What happened.
  std::vector<DialogCall> dialogs;
  std::vector<ShownMessage> messages;
  std::vector<std::vector<ui::MenuItemState>> popups;
  std::vector<int> propertiesCalls;
  int aboutBoxes = 0;
  int closeRequests = 0;
  int deleteAllRowsCalls = 0;

  std::optional<ui::ChosenFile> OpenFileDialog(const ui::FileDialogRequest& request) override {
    return Dialog(false, request);
  }
  std::optional<ui::ChosenFile> SaveFileDialog(const ui::FileDialogRequest& request) override {
    return Dialog(true, request);
  }
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override {
    messages.push_back({text, caption, icon, false});
  }
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override {
    messages.push_back({text, caption, icon, true});
    if (questionAnswers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return false;
    }
    bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  void SetControlText(int id, const std::string& text) override { texts[id] = text; }
  void EnableControl(int id, bool enabled) override { controlEnabled[id] = enabled; }
  void EnableMenuItem(int id, bool enabled) override { menuEnabled[id] = enabled; }
  void ListInsertColumn(int column, const std::string& title, int width) override {
    columns.insert(columns.begin() + column, {title, width});
    columnWidths[column] = width;
  }
  void ListDeleteAllRows() override {
    ++deleteAllRowsCalls;
    rows.clear();
    selectedRow = -1;
  }
  int ListFullyVisibleRows() override { return visibleRows; }
  void ListSetColumnWidth(int column, int width) override { columnWidths[column] = width; }
  void ListInsertRow(int row, const std::string& firstColumn) override {
    rows.insert(rows.begin() + row, std::vector<std::string>{firstColumn, "", ""});
  }
  void ListSetCell(int row, int column, const std::string& text) override {
    rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)) = text;
  }
  int ListSelectedRow() override { return selectedRow; }
  void ShowEditMenu(std::span<const ui::MenuItemState> items) override {
    popups.emplace_back(items.begin(), items.end());
  }
  bool RunEntryProperties(CSaveGame&, int index) override {
    propertiesCalls.push_back(index);
    return onProperties ? onProperties(index) : false;
  }
  void RunAboutBox() override { ++aboutBoxes; }
  void CloseMainWindow() override { ++closeRequests; }

  // The window as it starts: what the resource template gives before initialisation.
  void ResetWindow() {
    for (int id : {1001, 1002, 1040}) controlEnabled[id] = true;
    for (int id : {40001, 40003, 40004, 40009, 40005}) menuEnabled[id] = true;
    for (int id : {40013, 40010, 40011}) menuEnabled[id] = false;
  }

  std::string Text(int id) const {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  const ShownMessage& LastMessage() const {
    static const ShownMessage none{"<none>", "", ui::MessageIcon::kWarning, false};
    return messages.empty() ? none : messages.back();
  }

 private:
  std::optional<ui::ChosenFile> Dialog(bool save, const ui::FileDialogRequest& request) {
    dialogs.push_back({save, request});
    if (dialogAnswers.empty()) {
      ADD_FAILURE() << "unexpected file dialog";
      return std::nullopt;
    }
    std::optional<std::string> answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    if (!answer) return std::nullopt;
    return ui::ChosenFileFromPath(*answer);
  }
};

}  // namespace testutil
