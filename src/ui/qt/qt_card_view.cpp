#include "ui/qt/qt_card_view.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "card_ids.h"
#include "ui/card_window.h"
#include "ui/commands.h"
#include "ui/placement.h"
#include "ui/qt/qt_dialogs.h"
#include "ui/qt/qt_text.h"

namespace qtui {

QImage ImageOf(const icon::Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgba.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4)
    return {};
  return QImage(picture.rgba.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGBA8888).copy();
}

namespace {

// What a drag of saves carries, as the logic gave it; empty for any other drag.
std::string DraggedSaves(const QMimeData* data) {
  const QByteArray bytes = data ? data->data(ToQt(ui::kSavesDragType)) : QByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The list of saves, whose selection may be dragged onto another card window: the drag
// carries what the logic gives it, and only ever copies.
class SavesList : public QTreeWidget {
 public:
  explicit SavesList(ui::CardWindow* logic) : logic_(logic) { setDragDropMode(QAbstractItemView::DragOnly); }

 protected:
  void startDrag(Qt::DropActions) override {
    const std::string dragged = logic_->DragSelected();
    if (dragged.empty()) return;
    auto* data = new QMimeData;
    data->setData(ToQt(ui::kSavesDragType), QByteArray(dragged.data(), static_cast<qsizetype>(dragged.size())));
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    if (QTreeWidgetItem* item = currentItem(); item && !item->icon(0).isNull())
      drag->setPixmap(item->icon(0).pixmap(iconSize()));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
  }

 private:
  ui::CardWindow* logic_;
};

}  // namespace

// The window: the list of saves, the picture, the free space and the note beneath, and the
// buttons of ui::kCardCommands beside them. A dialog that never blocks the main window: as
// a plain widget, a screen reader would take it for a pane ("filler") and not announce it
// or list it among the windows.
class CardWidget : public QDialog {
 public:
  CardWidget(QWidget* owner, ui::CardWindow* logic);
  ~CardWidget() override {
    // What the list reports while it goes finds no logic.
    list_->blockSignals(true);
  }

  QTreeWidget* list_;
  QLabel* preview_;
  std::map<int, QWidget*> controls_;
  // While the list measures its rows, each row shows `blank_` (of an icon's size) in place
  // of its icon, so that measuring draws none.
  bool sizing_ = false;
  QIcon blank_;

  ui::CardWindow* Logic() const { return logic_; }
  // The list asks row by row as rows come into view: the rows shown from `row` on are
  // drawn together, on two cores where there are two.
  void WantIconsFrom(int row) const {
    QTreeWidgetItem* bottom = list_->itemAt(QPoint(0, list_->viewport()->height() - 1));
    const int last = bottom ? list_->indexOfTopLevelItem(bottom) : row;
    logic_->IconsWanted(row, std::max(row, last));
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->accept();
    logic_->OnClose();
  }
  // Escape.
  void reject() override { logic_->OnClose(); }
  // Files, or saves dragged from another card window, which the logic takes or not.
  void dragEnterEvent(QDragEnterEvent* event) override {
    const std::string saves = DraggedSaves(event->mimeData());
    if (saves.empty()) {
      if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
    } else if (logic_->TakesDrop(saves)) {
      event->setDropAction(Qt::CopyAction);
      event->accept();
    }
  }
  void dropEvent(QDropEvent* event) override {
    const std::string saves = DraggedSaves(event->mimeData());
    if (saves.empty()) {
      std::vector<std::string> paths = DroppedPaths(event->mimeData());
      event->acceptProposedAction();
      logic_->OnDropFiles(paths);
      return;
    }
    // A copy, never a move: the other window keeps its saves. The logic takes them once
    // the drag is over, so that its messages are ordinary ones.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    QMetaObject::invokeMethod(this, [this, saves] { logic_->OnDropSaves(saves); }, Qt::QueuedConnection);
  }

 private:
  QVBoxLayout* BuildButtons();

  ui::CardWindow* logic_;
};

CardWidget::CardWidget(QWidget* owner, ui::CardWindow* logic) : QDialog(owner), logic_(logic) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAcceptDrops(true);
  setWindowTitle(ToQt(LABEL_CARD_CAPTION));
  QPixmap blank(ui::kListIconSize, ui::kListIconSize);
  blank.fill(Qt::transparent);
  blank_ = QIcon(blank);
  list_ = new SavesList(logic);
  list_->setAccessibleName(QStringLiteral("Saves"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setIconSize(QSize(ui::kListIconSize, ui::kListIconSize));
  list_->setColumnCount(static_cast<int>(ui::kCardColumns.size()));
  QStringList titles;
  for (const ui::CardColumn& c : ui::kCardColumns) titles << ToQt(c.title);
  list_->setHeaderLabels(titles);
  int width = 0;
  for (int i = 0; i < static_cast<int>(ui::kCardColumns.size()); ++i) {
    list_->setColumnWidth(i, ui::kCardColumns[static_cast<std::size_t>(i)].width);
    width += ui::kCardColumns[static_cast<std::size_t>(i)].width;
  }
  controls_[IDC_CARD_LIST] = list_;
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { logic_->OnSelectionChanged(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { logic_->OnDoubleClick(); });
  auto* del = new QShortcut(QKeySequence::Delete, list_);
  del->setContext(Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, [this] { logic_->OnDeleteKey(); });

  preview_ = new QLabel;
  preview_->setMinimumSize(ui::kPreviewSize, ui::kPreviewSize);
  preview_->setAlignment(Qt::AlignCenter);
  auto* free = new QLabel;
  auto* note = new QLabel;
  note->setWordWrap(true);
  controls_[IDC_CARD_FREE] = free;
  controls_[IDC_CARD_NOTE] = note;

  auto* grid = new QGridLayout(this);
  grid->addWidget(list_, 0, 0);
  grid->addLayout(BuildButtons(), 0, 1);
  grid->addWidget(free, 1, 0, 1, 2);
  grid->addWidget(note, 2, 0, 1, 2);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(0, 1);
  // Room for every column at the start; the layout takes it from there.
  resize(std::max(sizeHint().width(), width + ui::kPreviewSize + 3 * grid->spacing() + 40), sizeHint().height());
}

QVBoxLayout* CardWidget::BuildButtons() {
  auto* column = new QVBoxLayout;
  column->addWidget(preview_);
  for (const ui::Command& command : ui::kCardCommands) {
    if (command.id == 0) {
      column->addStretch(1);
      continue;
    }
    auto* button = new QPushButton(ToQt(command.label));
    button->setAccessibleName(AccessibleLabel(command.label));
    button->setAutoDefault(false);
    controls_[command.id] = button;
    connect(button, &QPushButton::clicked, this, [this, id = command.id] { logic_->OnCommand(id, 0); });
    column->addWidget(button);
  }
  return column;
}

namespace {

// A row of the list, whose icon the logic draws when the list first asks for it: as the
// row comes into view.
class CardItem : public QTreeWidgetItem {
 public:
  CardItem(const QStringList& texts, const CardWidget* window, int row)
      : QTreeWidgetItem(texts), window_(window), row_(row) {}

  QVariant data(int column, int role) const override {
    if (column != 0 || role != Qt::DecorationRole) return QTreeWidgetItem::data(column, role);
    if (window_->sizing_) return window_->blank_;
    if (!asked_) {
      asked_ = true;
      window_->WantIconsFrom(row_);
      if (const icon::Picture* picture = window_->Logic()->RowIcon(row_))
        if (QImage image = ImageOf(*picture); !image.isNull()) icon_ = QIcon(QPixmap::fromImage(image));
    }
    return icon_;
  }

 private:
  const CardWidget* window_;
  int row_;
  mutable bool asked_ = false;
  mutable QIcon icon_;
};

}  // namespace

QtCardView::~QtCardView() { delete window_.data(); }

QWidget* QtCardView::Window() const { return window_.data(); }

void QtCardView::Place() const {
  QWidget* main = owner_->window();
  QScreen* screen = main->screen();
  if (!screen || !main->isVisible()) return;
  const QRect w = screen->availableGeometry();
  const QRect m = main->frameGeometry();
  const QSize size = window_->frameGeometry().size();
  const ui::CardPlacement placed = ui::PlaceCardWindow({w.x(), w.y(), w.width(), w.height()},
                                                       {m.x(), m.y(), m.width(), m.height()}, size.width(), size.height());
  // A top-level widget's position is its frame's.
  if (placed.main) main->move(placed.main->x, placed.main->y);
  window_->move(placed.card.x, placed.card.y);
}

void QtCardView::Open() {
  if (!window_) {
    window_ = new CardWidget(owner_, logic_);
    Place();
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void QtCardView::Close() {
  if (!window_) return;
  CardWidget* window = window_.data();
  window_ = nullptr;
  window->hide();
  window->deleteLater();
}

void QtCardView::SetCaption(const std::string& text) {
  if (window_) window_->setWindowTitle(ToQt(text));
}

void QtCardView::SetControlText(int id, const std::string& text) {
  if (!window_) return;
  auto it = window_->controls_.find(id);
  if (it == window_->controls_.end()) return;
  if (auto* label = qobject_cast<QLabel*>(it->second)) label->setText(ToQt(text));
  else if (auto* button = qobject_cast<QPushButton*>(it->second)) button->setText(ToQt(text));
}

void QtCardView::EnableControl(int id, bool enabled) {
  if (!window_) return;
  if (auto it = window_->controls_.find(id); it != window_->controls_.end()) it->second->setEnabled(enabled);
}

void QtCardView::SetColumns(std::span<const ui::CardColumn> columns) {
  if (!window_) return;
  QStringList titles;
  for (const ui::CardColumn& c : columns) titles << ToQt(c.title);
  window_->list_->setHeaderLabels(titles);
}

void QtCardView::SetRows(const std::vector<ui::CardRow>& rows) {
  if (!window_) return;
  // The logic asks for the selection itself once the rows are in.
  QTreeWidget* list = window_->list_;
  const bool blocked = list->blockSignals(true);
  list->clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ui::CardRow& row = rows[i];
    list->addTopLevelItem(new CardItem(QStringList{ToQt(row.folder), ToQt(row.title), ToQt(row.size), ToQt(row.modified)},
                                       window_.data(), static_cast<int>(i)));
  }
  // The folder column takes the width of its longest name and icon, never less than given.
  window_->sizing_ = true;
  list->resizeColumnToContents(0);
  window_->sizing_ = false;
  if (list->columnWidth(0) < ui::kCardColumns[0].width) list->setColumnWidth(0, ui::kCardColumns[0].width);
  list->blockSignals(blocked);
}

std::vector<int> QtCardView::SelectedRows() {
  std::vector<int> rows;
  if (!window_) return rows;
  for (QTreeWidgetItem* item : window_->list_->selectedItems())
    rows.push_back(window_->list_->indexOfTopLevelItem(item));
  std::sort(rows.begin(), rows.end());
  return rows;
}

void QtCardView::SetPreview(const icon::Picture* picture) {
  if (!window_) return;
  QImage image = picture ? ImageOf(*picture) : QImage();
  window_->preview_->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

std::vector<std::string> QtCardView::OpenFilesDialog(const ui::FileDialogRequest& request) {
  return RunFileDialog(window_ ? window_.data() : owner_, false, request);
}

std::optional<ui::ExportChoice> QtCardView::AskExport(const ui::ExportRequest& request) {
  return RunExportDialog(window_ ? window_.data() : owner_, request);
}

void QtCardView::ShowMessage(const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  ShowMessageBox(window_ ? window_.data() : owner_, text, caption, icon);
}

bool QtCardView::AskYesNo(const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  return AskYesNoBox(window_ ? window_.data() : owner_, text, caption, icon);
}

}  // namespace qtui
