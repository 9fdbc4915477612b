// The main window in Qt: the platform interface of the portable logic (ui::MainWindow), with
// the controls, menus and list it addresses by resource id. Every decision is the logic's;
// this class turns Qt's signals and events into its calls and carries out what it asks.
// Each main window has its own save, card window and logic, so several can be open at once.
#pragma once

#include <QMainWindow>

#include <map>

#include "ui/main_window.h"
#include "ui/platform.h"
#include "ui/qt/qt_card_view.h"

class QAction;
class QLabel;
class QTreeWidget;

namespace qtui {

class QtMainWindow : public QMainWindow, public ui::Platform {
 public:
  explicit QtMainWindow(QWidget* parent = nullptr);
  ~QtMainWindow() override;

  ui::MainWindow& logic() { return logic_; }
  // The card window while it is open, else nullptr.
  QWidget* CardWindowWidget() const { return cards_.Window(); }

  std::optional<ui::ChosenFile> OpenFileDialog(const ui::FileDialogRequest& request) override;
  std::optional<ui::ChosenFile> SaveFileDialog(const ui::FileDialogRequest& request) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;
  void ShowSaveIcon(const icon::Picture* picture) override;
  void EnableMenuItem(int id, bool enabled) override;
  void ListInsertColumn(int column, const std::string& title, int width) override;
  void ListDeleteAllRows() override;
  int ListFullyVisibleRows() override;
  void ListSetColumnWidth(int column, int width) override;
  void ListInsertRow(int row, const std::string& firstColumn) override;
  void ListSetCell(int row, int column, const std::string& text) override;
  int ListSelectedRow() override;
  void ShowEditMenu(std::span<const ui::MenuItemState> items) override;
  bool RunEntryProperties(CSaveGame& save, int index) override;
  void RunAboutBox() override;
  void CloseMainWindow() override;
  void SetWindowTitle(const std::string& text) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  std::optional<ui::NewCardChoice> AskNewCard(std::span<const unsigned> sizes,
                                              const ui::NewCardChoice& offered) override;
  QtCardView& Cards() override { return cards_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildControls();
  void BuildList();
  // A command of the logic, run once the event that asked for it is over.
  void PostCommand(int id);

  std::map<int, QWidget*> controls_;
  std::map<int, QAction*> actions_;
  QTreeWidget* list_ = nullptr;
  QLabel* saveIcon_ = nullptr;
  QLabel* modeWord_ = nullptr;  // IDC_ROOT_MODE: a save's mode word, a PS1 save's blocks
  QtCardView cards_{this};
  ui::MainWindow logic_{*this};
};

// One main window per file named (a save, a card image or a folder card), or one empty
// window when none is; each is shown and deletes itself when closed.
void OpenWindows(const std::vector<std::string>& paths);

}  // namespace qtui
