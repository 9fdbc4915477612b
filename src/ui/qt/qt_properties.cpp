#include "ui/qt/qt_properties.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <map>

#include "properties_ids.h"
#include "ui/properties.h"
#include "ui/qt/qt_dialogs.h"
#include "ui/qt/qt_text.h"

namespace qtui {

namespace {

// A time being edited, "dd-mm-yyyy hh:mm:ss": every input that could change the text goes
// through the field's rules (RespondToInput), so the text keeps its length and its
// separators.
class TimeEntry : public QLineEdit {
 public:
  TimeEntry() {
    setAcceptDrops(false);
    setDragEnabled(false);
    setAttribute(Qt::WA_InputMethodEnabled, true);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!HaveEntryProperties()) return QLineEdit::keyPressEvent(event);
    const FieldInput input = InputOf(*event);
    const QString typed = input == FieldInput::kPaste ? QGuiApplication::clipboard()->text() : event->text();
    if (!Respond(input, typed)) QLineEdit::keyPressEvent(event);
  }
  // A composed string is typed one character at a time.
  void inputMethodEvent(QInputMethodEvent* event) override {
    if (HaveEntryProperties()) Respond(FieldInput::kText, event->commitString());
    event->accept();
  }
  void contextMenuEvent(QContextMenuEvent* event) override {
    if (!HaveEntryProperties() || !Respond(FieldInput::kMenu, {})) QLineEdit::contextMenuEvent(event);
    else event->accept();
  }

 private:
  static FieldInput InputOf(const QKeyEvent& event) {
    if (event.matches(QKeySequence::SelectAll)) return FieldInput::kSelectAll;
    if (event.matches(QKeySequence::Copy)) return FieldInput::kCopy;
    if (event.matches(QKeySequence::Cut)) return FieldInput::kCut;
    if (event.matches(QKeySequence::Paste)) return FieldInput::kPaste;
    if (event.matches(QKeySequence::Undo) || event.matches(QKeySequence::Redo)) return FieldInput::kUndo;
    switch (event.key()) {
      case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Home: case Qt::Key_End:
      case Qt::Key_Tab: case Qt::Key_Backtab: case Qt::Key_Return: case Qt::Key_Enter:
      case Qt::Key_Escape: case Qt::Key_Up: case Qt::Key_Down:
        return FieldInput::kMove;
      case Qt::Key_Delete:
        return FieldInput::kDelete;
      case Qt::Key_Backspace:
        return FieldInput::kBackspace;
      default:
        return FieldInput::kText;
    }
  }
  // Carries out the rules' response; false when the input is the line edit's own to handle.
  bool Respond(FieldInput input, const QString& typed) {
    const EntryProperties& record = GetEntryProperties();
    const std::size_t at = static_cast<std::size_t>(hasSelectedText() ? selectionStart() : cursorPosition());
    const FieldResponse response = RespondToInput(input, FromQt(text()), at, FromQt(typed), record.mask, record.blank);
    switch (response.action) {
      case FieldAction::kPassOn:
        return false;
      case FieldAction::kSelectAll:
        selectAll();
        break;
      case FieldAction::kCopy:
        copy();
        break;
      case FieldAction::kEdit:
        if (response.edit.applied) {
          const int caret = cursorPosition();
          setText(ToQt(response.edit.text));
          setCursorPosition(response.edit.caret ? static_cast<int>(*response.edit.caret) : caret);
        }
        break;
    }
    return true;
  }
};

class PropertiesWindow : public QDialog, public PropertiesView {
 public:
  explicit PropertiesWindow(QWidget* owner);
  void Attach(PropertiesDialog* logic) { logic_ = logic; }

  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) override;
  void SetChecked(int id, bool checked) override {
    // The logic knows what it sets: only the user's changes go back to it.
    if (auto* box = qobject_cast<QCheckBox*>(controls_.at(id))) {
      const QSignalBlocker quiet(box);
      box->setChecked(checked);
    }
  }
  void Show(int id, bool visible) override { controls_.at(id)->setVisible(visible); }
  void Enable(int id, bool enabled) override { controls_.at(id)->setEnabled(enabled); }
  void Focus(int id) override { controls_.at(id)->setFocus(); }
  void SetCaret(int id, std::size_t position) override {
    if (auto* edit = qobject_cast<QLineEdit*>(controls_.at(id))) edit->setCursorPosition(static_cast<int>(position));
  }
  void LimitText(int id, std::size_t chars) override {
    if (auto* edit = qobject_cast<QLineEdit*>(controls_.at(id))) edit->setMaxLength(static_cast<int>(chars));
  }
  void Warn(const std::string& text, const std::string& caption) override {
    ShowMessageBox(this, text, caption, ui::MessageIcon::kWarning);
  }
  void EndDialog(int result) override { done(result); }

 protected:
  // Escape, as the Cancel button.
  void reject() override { Command(kPropertiesCancel); }
  void closeEvent(QCloseEvent* event) override {
    if (logic_) logic_->Close();
    event->setAccepted(!isVisible());
  }

 private:
  void Command(int id) {
    if (logic_) logic_->Command(id, 0);
  }
  QGroupBox* BuildInfo();
  QGroupBox* BuildModes();
  // A button that sends its id to the logic when clicked.
  QPushButton* Button(int id, const char* label);
  // The label of a row and the control it names, which takes it as its accessible name.
  QLabel* Label(int id, const char* text, QWidget* control);

  PropertiesDialog* logic_ = nullptr;
  std::map<int, QWidget*> controls_;
  GivenTexts given_;
};

PropertiesWindow::PropertiesWindow(QWidget* owner) : QDialog(owner) {
  setWindowTitle(ToQt(LABEL_PROPERTIES_CAPTION));
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = Button(kPropertiesOk, LABEL_OK);
  ok->setDefault(true);
  buttons->addButton(ok, QDialogButtonBox::AcceptRole);
  buttons->addButton(Button(kPropertiesCancel, LABEL_CANCEL), QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildInfo());
  layout->addWidget(BuildModes());
  layout->addWidget(buttons);
}

QPushButton* PropertiesWindow::Button(int id, const char* label) {
  auto* button = new QPushButton(ToQt(label));
  button->setAccessibleName(AccessibleLabel(label));
  if (id != kPropertiesOk && id != kPropertiesCancel) controls_[id] = button;
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  return button;
}

QLabel* PropertiesWindow::Label(int id, const char* text, QWidget* control) {
  auto* label = new QLabel(ToQt(text));
  label->setBuddy(control);
  control->setAccessibleName(AccessibleLabel(text));
  if (id) controls_[id] = label;
  return label;
}

QGroupBox* PropertiesWindow::BuildInfo() {
  auto* info = new QGroupBox(ToQt(LABEL_INFO));
  auto* grid = new QGridLayout(info);
  auto* name = new QLineEdit;
  controls_[IDC_PROP_NAME] = name;
  grid->addWidget(Label(0, LABEL_NAME, name), 0, 0);
  grid->addWidget(name, 0, 1, 1, 2);
  // Each time shows as text, or, while it is edited, in its entry field in the same place.
  const struct { int display, entry, button; const char* label; } times[] = {
      {IDC_PROP_CREATED, IDC_PROP_CREATED_ENTRY, IDC_PROP_EDIT_CREATED, LABEL_CREATED},
      {IDC_PROP_MODIFIED, IDC_PROP_MODIFIED_ENTRY, IDC_PROP_EDIT_MODIFIED, LABEL_MODIFIED}};
  int row = 1;
  for (const auto& t : times) {
    auto* display = new QLineEdit;
    display->setReadOnly(true);
    auto* entry = new TimeEntry;
    entry->hide();
    entry->setEnabled(false);
    controls_[t.display] = display;
    controls_[t.entry] = entry;
    grid->addWidget(Label(0, t.label, display), row, 0);
    entry->setAccessibleName(AccessibleLabel(t.label));
    grid->addWidget(display, row, 1);
    grid->addWidget(entry, row, 1);
    grid->addWidget(Button(t.button, LABEL_EDIT), row, 2);
    ++row;
  }
  auto* summary = new QLabel;
  controls_[IDC_PROP_SUMMARY] = summary;
  grid->addWidget(Label(IDC_PROP_SIZE_LABEL, LABEL_SIZE, summary), row, 0);
  grid->addWidget(summary, row, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  return info;
}

QGroupBox* PropertiesWindow::BuildModes() {
  auto* modes = new QGroupBox(ToQt(LABEL_NO_ATTRIBUTES));
  controls_[IDC_PROP_ATTRIBUTES] = modes;
  auto* grid = new QGridLayout(modes);
  const int rows = static_cast<int>(kModeBoxes.size()) / 2;
  for (int k = 0; k < static_cast<int>(kModeBoxes.size()); ++k) {
    const int id = IDC_PROP_MODE_FIRST + k;
    const std::string_view label = kModeBoxes[static_cast<std::size_t>(k)].label;
    auto* box = new QCheckBox(ToQt(label));
    box->setAccessibleName(AccessibleLabel(label));
    controls_[id] = box;
    // Every change of the box's state, by mouse, key or a screen reader's Toggle (which
    // changes it without a click), flips the logic's bit.
    connect(box, &QCheckBox::toggled, this, [this, id] { Command(id); });
    grid->addWidget(box, k % rows, k / rows);
  }
  return modes;
}

void PropertiesWindow::SetText(int id, const std::string& text) {
  QWidget* control = controls_.at(id);
  const QString shown = ToQt(text);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(shown);
    given_.Given(id, text, FromQt(edit->text()));
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(shown);
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    button->setText(shown);
    button->setAccessibleName(AccessibleLabel(text));
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(shown);
  }
}

std::string PropertiesWindow::GetText(int id) {
  QWidget* control = controls_.at(id);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return given_.Read(id, FromQt(edit->text()));
  if (auto* label = qobject_cast<QLabel*>(control)) return FromQt(label->text());
  return {};
}

}  // namespace

bool RunEntryProperties(QWidget* owner, CSaveGame& save, int index) {
  return RunProperties(&save, index, [owner] {
    PropertiesWindow window(owner);
    PropertiesDialog logic(GetEntryProperties(), window);
    window.Attach(&logic);
    GetEntryProperties().dialog = &window;
    logic.Init();
    return window.exec();
  });
}

}  // namespace qtui
