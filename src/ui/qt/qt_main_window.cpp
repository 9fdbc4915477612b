#include "ui/qt/qt_main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

#include "resource.h"
#include "ui/commands.h"
#include "ui/qt/qt_dialogs.h"
#include "ui/qt/qt_properties.h"
#include "ui/qt/qt_text.h"
#include "ui/texts.h"

namespace qtui {

namespace {

// Renaming in place: only the name column is edited, and the edited name goes to the logic,
// which decides whether the row and the save take it. The list never stores it itself.
class NameDelegate : public QStyledItemDelegate {
 public:
  NameDelegate(QObject* parent, std::function<void(int, std::string)> edited)
      : QStyledItemDelegate(parent), edited_(std::move(edited)) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    return index.column() == 0 ? QStyledItemDelegate::createEditor(parent, option, index) : nullptr;
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) edited_(index.row(), FromQt(edit->text()));
  }

 private:
  std::function<void(int, std::string)> edited_;
};

QPushButton* CommandButton(const char* label) {
  auto* button = new QPushButton(ToQt(label));
  button->setAccessibleName(AccessibleLabel(label));
  return button;
}

// A read-only field showing what the logic puts there, named by its label (the caption
// is a control too: a PS1 save's fields have other labels).
QLineEdit* ShownField(QGridLayout* grid, int row, const char* label, QLabel*& caption) {
  auto* field = new QLineEdit;
  field->setReadOnly(true);
  field->setAccessibleName(AccessibleLabel(label));
  caption = new QLabel(ToQt(label));
  caption->setBuddy(field);
  grid->addWidget(caption, row, 0);
  grid->addWidget(field, row, 1, 1, 2);
  return field;
}

}  // namespace

QtMainWindow::QtMainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(ToQt(LABEL_MAIN_CAPTION));
  setAcceptDrops(true);
  cards_.SetLogic(&logic_.cards());
  BuildMenus();
  setCentralWidget(BuildControls());
  logic_.OnInit();
}

QtMainWindow::~QtMainWindow() {
  // What the widgets report while they go finds no logic.
  list_->blockSignals(true);
  delete cards_.Window();
}

void QtMainWindow::BuildMenus() {
  for (const ui::Menu& description : ui::kMainMenus) {
    QMenu* menu = menuBar()->addMenu(ToQt(description.title));
    for (const ui::Command& command : description.commands) {
      if (command.id == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(ToQt(command.label));
      connect(action, &QAction::triggered, this, [this, id = command.id] { logic_.OnCommand(id, 0); });
      actions_[command.id] = action;
    }
  }
}

QWidget* QtMainWindow::BuildControls() {
  auto* info = new QGroupBox(ToQt(LABEL_SAVE_INFO));
  controls_[IDC_SAVE_INFO] = info;
  auto* grid = new QGridLayout(info);
  QLabel* caption = nullptr;
  controls_[IDC_FOLDER_NAME] = ShownField(grid, 0, LABEL_SAVE_FOLDER, caption);
  controls_[IDC_FOLDER_LABEL] = caption;
  controls_[IDC_TITLE] = ShownField(grid, 1, LABEL_ICON_SYS_NAME, caption);
  controls_[IDC_TITLE_LABEL] = caption;
  auto* mode = new QLabel;
  mode->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  modeWord_ = mode;
  auto* modeCaption = new QLabel(ToQt(LABEL_ROOT_ATTRIBUTES));
  modeCaption->setBuddy(mode);
  controls_[IDC_ROOT_MODE] = mode;
  controls_[IDC_ROOT_MODE_LABEL] = modeCaption;
  grid->addWidget(modeCaption, 2, 0);
  grid->addWidget(mode, 2, 1);
  grid->setColumnStretch(1, 1);
  // A PS1 save's icon, beside its fields.
  saveIcon_ = new QLabel;
  saveIcon_->setAccessibleName(QStringLiteral("Icon"));
  saveIcon_->setMinimumSize(ui::kSaveIconSize, ui::kSaveIconSize);
  grid->addWidget(saveIcon_, 0, 3, 2, 1, Qt::AlignCenter);

  auto* buttons = new QVBoxLayout;
  const std::pair<int, const char*> commands[] = {
      {IDC_OPEN, LABEL_OPEN}, {IDC_SAVE, LABEL_SAVE}, {IDC_FOLDER_PROPERTIES, LABEL_PROPERTIES}};
  for (auto [id, label] : commands) {
    QPushButton* button = CommandButton(label);
    controls_[id] = button;
    connect(button, &QPushButton::clicked, this, [this, id = id] { logic_.OnCommand(id, 0); });
    // The save folder's Properties stand on the attributes' row, as in the Windows dialog.
    if (id == IDC_FOLDER_PROPERTIES) grid->addWidget(button, 2, 2);
    else buttons->addWidget(button);
  }
  buttons->addStretch(1);

  BuildList();
  auto* top = new QHBoxLayout;
  top->addWidget(info, 1);
  top->addLayout(buttons);
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addLayout(top);
  layout->addWidget(list_, 1);
  return central;
}

void QtMainWindow::BuildList() {
  list_ = new QTreeWidget;
  list_->setAccessibleName(QStringLiteral("Files"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  list_->setColumnCount(0);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  // The logic decides once the editor has closed, as a list view reports the end of an edit.
  list_->setItemDelegate(new NameDelegate(list_, [this](int row, std::string text) {
    QMetaObject::invokeMethod(this, [this, row, text = std::move(text)] {
      logic_.OnListLabelEditEnd(row, text);
    }, Qt::QueuedConnection);
  }));
  controls_[IDC_FILE_LIST] = list_;
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { logic_.OnListItemChanged(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { logic_.OnListDoubleClick(); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this] { logic_.OnListRightClick(); });
  auto* del = new QShortcut(QKeySequence::Delete, list_);
  del->setContext(Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, [this] { logic_.OnListDeleteKey(); });
}

void QtMainWindow::PostCommand(int id) {
  QMetaObject::invokeMethod(this, [this, id] { logic_.OnCommand(id, 0); }, Qt::QueuedConnection);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // The card window goes with the main window that owns it.
  logic_.cards().OnClose();
  event->accept();
}

void QtMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void QtMainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths = DroppedPaths(event->mimeData());
  event->acceptProposedAction();
  logic_.OnDropFiles(paths);
}

std::optional<ui::ChosenFile> QtMainWindow::OpenFileDialog(const ui::FileDialogRequest& request) {
  return ui::FirstChosenFile(RunFileDialog(this, false, request));
}

std::optional<ui::ChosenFile> QtMainWindow::SaveFileDialog(const ui::FileDialogRequest& request) {
  return ui::FirstChosenFile(RunFileDialog(this, true, request));
}

void QtMainWindow::ShowMessage(const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  ShowMessageBox(this, text, caption, icon);
}

bool QtMainWindow::AskYesNo(const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  return AskYesNoBox(this, text, caption, icon);
}

void QtMainWindow::SetControlText(int id, const std::string& text) {
  auto it = controls_.find(id);
  if (it == controls_.end()) return;
  if (auto* edit = qobject_cast<QLineEdit*>(it->second)) edit->setText(ToQt(text));
  else if (auto* label = qobject_cast<QLabel*>(it->second)) {
    label->setText(ToQt(text));
    // A label in Qt 6.4 gives a screen reader its name and no text: the mode word is
    // known by the word itself, which its caption names (as its buddy). Any other field a
    // caption names is known by the caption's text.
    if (label == modeWord_) label->setAccessibleName(ToQt(text));
    else if (QWidget* buddy = label->buddy(); buddy && buddy != modeWord_) buddy->setAccessibleName(AccessibleLabel(text));
  }
  else if (auto* button = qobject_cast<QPushButton*>(it->second)) button->setText(ToQt(text));
}

void QtMainWindow::ShowSaveIcon(const icon::Picture* picture) {
  QImage image = picture ? ImageOf(*picture) : QImage();
  saveIcon_->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

void QtMainWindow::EnableControl(int id, bool enabled) {
  if (auto it = controls_.find(id); it != controls_.end()) it->second->setEnabled(enabled);
}

void QtMainWindow::EnableMenuItem(int id, bool enabled) {
  if (auto it = actions_.find(id); it != actions_.end()) it->second->setEnabled(enabled);
}

void QtMainWindow::ListInsertColumn(int column, const std::string& title, int width) {
  if (list_->columnCount() <= column) list_->setColumnCount(column + 1);
  list_->headerItem()->setText(column, ToQt(title));
  list_->setColumnWidth(column, width);
}

void QtMainWindow::ListDeleteAllRows() { list_->clear(); }

int QtMainWindow::ListFullyVisibleRows() {
  const int rowHeight = list_->topLevelItemCount() > 0 ? list_->sizeHintForRow(0) : list_->fontMetrics().height();
  return rowHeight > 0 ? list_->viewport()->height() / rowHeight : 0;
}

void QtMainWindow::ListSetColumnWidth(int column, int width) { list_->setColumnWidth(column, width); }

void QtMainWindow::ListInsertRow(int row, const std::string& firstColumn) {
  auto* item = new QTreeWidgetItem(QStringList{ToQt(firstColumn)});
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  list_->insertTopLevelItem(row, item);
}

void QtMainWindow::ListSetCell(int row, int column, const std::string& text) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(column, ToQt(text));
}

int QtMainWindow::ListSelectedRow() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void QtMainWindow::ShowEditMenu(std::span<const ui::MenuItemState> items) {
  QMenu menu(this);
  for (const ui::Command& command : ui::kMainMenus[EDIT_SUBMENU_INDEX].commands) {
    QAction* action = menu.addAction(ToQt(command.label));
    action->setData(command.id);
    // An item not named keeps its state in the menu bar.
    action->setEnabled(actions_.at(command.id)->isEnabled());
    for (const ui::MenuItemState& item : items)
      if (item.id == command.id) action->setEnabled(item.enabled);
  }
  // Its commands come back as the menu bar's do, once the menu is gone.
  if (QAction* chosen = menu.exec(QCursor::pos())) PostCommand(chosen->data().toInt());
}

bool QtMainWindow::RunEntryProperties(CSaveGame& save, int index) {
  return qtui::RunEntryProperties(this, save, index);
}

void QtMainWindow::RunAboutBox() { qtui::RunAboutBox(this); }

void QtMainWindow::CloseMainWindow() { close(); }

void QtMainWindow::SetWindowTitle(const std::string& text) { setWindowTitle(ToQt(text)); }

std::optional<std::string> QtMainWindow::ChooseFolder(const std::string& title) {
  return qtui::ChooseFolder(this, title);
}

std::optional<ui::NewCardChoice> QtMainWindow::AskNewCard(std::span<const unsigned> sizes,
                                                          const ui::NewCardChoice& offered) {
  return RunNewCardDialog(this, sizes, offered);
}

void OpenWindows(const std::vector<std::string>& paths) {
  const std::size_t windows = paths.empty() ? 1 : paths.size();
  for (std::size_t i = 0; i < windows; ++i) {
    auto* window = new QtMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    if (i < paths.size()) window->logic().OpenPath(paths[i]);
  }
}

}  // namespace qtui
