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

#include "ui/card_view.h"
#include "ui/card_window.h"
#include "ui/platform.h"

namespace testutil {

struct ShownMessage {
  std::string text;
  std::string caption;
  ui::MessageIcon icon;
  bool question;
};

// Message boxes and questions as both windows' fakes record them: each shown box in
// `messages`, and each question answered from `questionAnswers` (one without an answer
// fails the test).
struct RecordedMessages {
  std::deque<bool> questionAnswers;
  std::vector<ShownMessage> messages;

  void Record(const std::string& text, const std::string& caption, ui::MessageIcon icon) {
    messages.push_back({text, caption, icon, false});
  }
  bool Answer(const std::string& text, const std::string& caption, ui::MessageIcon icon,
              const char* where) {
    messages.push_back({text, caption, icon, true});
    if (questionAnswers.empty()) {
      ADD_FAILURE() << "unexpected question" << where << ": " << text;
      return false;
    }
    bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
};

struct DialogCall {
  bool save;  // save dialog rather than open dialog
  ui::FileDialogRequest request;
};

// The card window: its rows, selection, picture, enabling and texts, and what it asked.
class FakeCardView : public ui::CardView, public RecordedMessages {
 public:
  // Scripts, as the platform's: files for each Import... (none = cancel), the export
  // choices, the answers to questions.
  std::deque<std::vector<std::string>> filesAnswers;
  std::deque<std::optional<ui::ExportChoice>> exportAnswers;

  bool open = false;
  int opens = 0;
  std::string caption;
  std::map<int, std::string> texts;
  std::map<int, bool> enabled;
  std::vector<std::string> columns;
  std::vector<ui::CardRow> rows;
  // The list shows its first `shownRows` rows and asks `logic` for their icons as they are
  // set, as a list asks for the rows that come into view; `icons` keeps what it got (an
  // empty picture where the logic gave none). Without a logic it asks for none.
  ui::CardWindow* logic = nullptr;
  std::size_t shownRows = static_cast<std::size_t>(-1);
  std::vector<icon::Picture> icons;
  std::vector<int> selected;
  std::optional<icon::Picture> preview;

  std::vector<ui::FileDialogRequest> fileDialogs;
  std::vector<ui::ExportRequest> exportRequests;

  void Open() override {
    open = true;
    ++opens;
  }
  void Close() override { open = false; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetControlText(int id, const std::string& text) override { texts[id] = text; }
  void EnableControl(int id, bool on) override { enabled[id] = on; }
  void SetColumns(std::span<const ui::CardColumn> newColumns) override {
    columns.clear();
    for (const ui::CardColumn& c : newColumns) columns.emplace_back(c.title);
  }
  void SetRows(const std::vector<ui::CardRow>& newRows) override {
    rows = newRows;
    selected.clear();
    icons.clear();
    if (logic && !rows.empty() && shownRows > 0)
      logic->IconsWanted(0, static_cast<int>(std::min(rows.size(), shownRows) - 1));
    for (std::size_t i = 0; logic && i < rows.size() && i < shownRows; ++i) {
      const icon::Picture* drawn = logic->RowIcon(static_cast<int>(i));
      icons.push_back(drawn ? *drawn : icon::Picture{});
    }
  }
  std::vector<int> SelectedRows() override { return selected; }
  void SetPreview(const icon::Picture* picture) override {
    if (picture) preview = *picture;
    else preview.reset();
  }
  std::vector<std::string> OpenFilesDialog(const ui::FileDialogRequest& request) override {
    fileDialogs.push_back(request);
    if (filesAnswers.empty()) {
      ADD_FAILURE() << "unexpected file dialog in the card window";
      return {};
    }
    std::vector<std::string> answer = filesAnswers.front();
    filesAnswers.pop_front();
    return answer;
  }
  std::optional<ui::ExportChoice> AskExport(const ui::ExportRequest& request) override {
    exportRequests.push_back(request);
    if (exportAnswers.empty()) {
      ADD_FAILURE() << "unexpected export dialog";
      return std::nullopt;
    }
    std::optional<ui::ExportChoice> answer = exportAnswers.front();
    exportAnswers.pop_front();
    return answer;
  }
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override {
    Record(text, caption, icon);
  }
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override {
    return Answer(text, caption, icon, " in the card window");
  }

  std::vector<std::string> Folders() const {
    std::vector<std::string> out;
    for (const ui::CardRow& r : rows) out.push_back(r.folder);
    return out;
  }
};

class FakePlatform : public ui::Platform, public RecordedMessages {
 public:
  // Scripts: the path each file dialog returns (none = cancel), and the answer to each
  // question. A dialog or question without a script fails the test.
  std::deque<std::optional<std::string>> dialogAnswers;
  std::function<bool(int)> onProperties;  // runs for RunEntryProperties
  std::deque<std::optional<std::string>> folderAnswers;
  std::deque<std::optional<ui::NewCardChoice>> newCardAnswers;
  FakeCardView cards;

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
  std::vector<std::vector<ui::MenuItemState>> popups;
  std::vector<int> propertiesCalls;
  int aboutBoxes = 0;
  int closeRequests = 0;
  int deleteAllRowsCalls = 0;
  std::string windowTitle = "Converter";
  std::optional<icon::Picture> saveIcon;  // the picture beside the save's fields

  std::optional<ui::ChosenFile> OpenFileDialog(const ui::FileDialogRequest& request) override {
    return Dialog(false, request);
  }
  std::optional<ui::ChosenFile> SaveFileDialog(const ui::FileDialogRequest& request) override {
    return Dialog(true, request);
  }
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override {
    Record(text, caption, icon);
  }
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override {
    return Answer(text, caption, icon, "");
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
  void SetWindowTitle(const std::string& text) override { windowTitle = text; }
  std::optional<std::string> ChooseFolder(const std::string&) override {
    if (folderAnswers.empty()) {
      ADD_FAILURE() << "unexpected folder picker";
      return std::nullopt;
    }
    std::optional<std::string> answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }
  std::optional<ui::NewCardChoice> AskNewCard(std::span<const unsigned>,
                                              const ui::NewCardChoice&) override {
    if (newCardAnswers.empty()) {
      ADD_FAILURE() << "unexpected New Card dialog";
      return std::nullopt;
    }
    std::optional<ui::NewCardChoice> answer = newCardAnswers.front();
    newCardAnswers.pop_front();
    return answer;
  }
  ui::CardView& Cards() override { return cards; }
  void ShowSaveIcon(const icon::Picture* picture) override {
    if (picture) saveIcon = *picture;
    else saveIcon.reset();
  }

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
