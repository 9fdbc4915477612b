#include "ui/qt/qt_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/qt_text.h"
#include "ui/texts.h"

namespace qtui {

namespace {

// "Memory Linker (*.psu)" as Qt takes a filter: the description, then its patterns between
// parentheses and apart by spaces (the description's own "(...)" gives way to them).
QString NameFilter(const ui::FileFilter& filter) {
  QString description = ToQt(filter.description);
  const qsizetype open = description.lastIndexOf(QStringLiteral(" ("));
  if (open > 0 && description.endsWith(u')')) description.truncate(open);
  QString patterns = ToQt(filter.pattern);
  patterns.replace(u';', u' ');
  return description + QStringLiteral(" (") + patterns + u')';
}

// The extension a filter's first pattern names ("psu" for "*.psu"); empty for "*" or "*.*".
QString FilterSuffix(const QString& nameFilter) {
  const qsizetype open = nameFilter.lastIndexOf(u'(');
  if (open < 0 || !nameFilter.endsWith(u')')) return {};
  const QString first = nameFilter.mid(open + 1).chopped(1).section(u' ', 0, 0);
  if (!first.startsWith(QStringLiteral("*."))) return {};
  const QString suffix = first.mid(2);
  return suffix.contains(u'*') ? QString() : suffix;
}

QMessageBox::Icon IconOf(ui::MessageIcon icon) {
  switch (icon) {
    case ui::MessageIcon::kWarning: return QMessageBox::Warning;
    case ui::MessageIcon::kInformation: return QMessageBox::Information;
    case ui::MessageIcon::kQuestion: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// OK and Cancel with the program's own labels.
QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  for (auto [which, label] : {std::pair{QDialogButtonBox::Ok, LABEL_OK}, std::pair{QDialogButtonBox::Cancel, LABEL_CANCEL}}) {
    QPushButton* button = buttons->button(which);
    button->setText(ToQt(label));
    button->setAccessibleName(AccessibleLabel(label));
  }
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A label for `control`, which takes the label's text as its accessible name.
QLabel* LabelFor(QWidget* control, const char* text) {
  auto* label = new QLabel(ToQt(text));
  label->setBuddy(control);
  control->setAccessibleName(AccessibleLabel(text));
  return label;
}

void StartIn(QFileDialog& dialog, const ui::FileDialogRequest& request) {
  // The logic names folders as Windows does (".\\"): Qt takes '/' on every system.
  QString folder = ToQt(request.initialDirectory);
  folder.replace(u'\\', u'/');
  if (!folder.isEmpty()) dialog.setDirectory(QDir(folder).absolutePath());
  if (!request.fileName.empty()) dialog.selectFile(PathToQt(request.fileName));
}

}  // namespace

std::vector<std::string> RunFileDialog(QWidget* owner, bool save, const ui::FileDialogRequest& request) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile
                          : (request.flags & ui::kDialogMultiSelect) ? QFileDialog::ExistingFiles
                                                                     : QFileDialog::ExistingFile);
  if (save && !(request.flags & ui::kDialogOverwritePrompt)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  QStringList filters;
  for (const ui::FileFilter& f : request.filters) filters << NameFilter(f);
  dialog.setNameFilters(filters);
  if (request.selectedFilter > 0 && request.selectedFilter <= filters.size())
    dialog.selectNameFilter(filters[request.selectedFilter - 1]);
  if (!request.defaultExtension.empty()) {
    // A name typed without an extension takes the chosen filter's, as on Windows.
    dialog.setDefaultSuffix(ToQt(request.defaultExtension));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      if (QString suffix = FilterSuffix(filter); !suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    });
  }
  StartIn(dialog, request);
  if (dialog.exec() != QDialog::Accepted) return {};
  std::vector<std::string> paths;
  for (const QString& path : dialog.selectedFiles()) paths.push_back(PathFromQt(path));
  return paths;
}

std::optional<std::string> ChooseFolder(QWidget* owner, const std::string& title) {
  QFileDialog dialog(owner, ToQt(title));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return PathFromQt(dialog.selectedFiles().front());
}

void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                    ui::MessageIcon icon) {
  QMessageBox box(IconOf(icon), ToQt(caption), ToQt(text), QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool AskYesNoBox(QWidget* owner, const std::string& text, const std::string& caption,
                 ui::MessageIcon icon) {
  QMessageBox box(IconOf(icon), ToQt(caption), ToQt(text), QMessageBox::Yes | QMessageBox::No, owner);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<ui::ExportChoice> RunExportDialog(QWidget* owner, const ui::ExportRequest& request) {
  const ui::ExportDialogStart start = ui::ExportDialogStartOf(request);
  QDialog dialog(owner);
  dialog.setWindowTitle(ToQt(start.caption));
  auto* folder = new QLineEdit(ToQt(start.folder));
  auto* browse = new QPushButton(ToQt(LABEL_BROWSE));
  browse->setAccessibleName(AccessibleLabel(LABEL_BROWSE));
  auto* target = new QComboBox;
  for (const std::string& t : request.targets) target->addItem(ToQt(t));
  target->setCurrentIndex(start.target);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder, 1);
  folderRow->addWidget(browse);
  auto* form = new QFormLayout;
  form->addRow(LabelFor(folder, LABEL_EXPORT_FOLDER), folderRow);
  form->addRow(LabelFor(target, start.targetLabel.c_str()), target);
  QDialogButtonBox* buttons = OkCancel(&dialog);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);

  auto enableOk = [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(ui::ExportReady(FromQt(folder->text()))); };
  QObject::connect(folder, &QLineEdit::textChanged, &dialog, enableOk);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
    if (std::optional<std::string> chosen = ChooseFolder(&dialog, start.folderTitle))
      folder->setText(PathToQt(*chosen));
  });
  buttons->button(QDialogButtonBox::Ok)->setEnabled(start.okEnabled);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ui::ExportChoice{PathFromQt(folder->text()), target->currentIndex()};
}

std::optional<ui::NewCardChoice> RunNewCardDialog(QWidget* owner, std::span<const unsigned> sizes,
                                                  const ui::NewCardChoice& offered) {
  QDialog dialog(owner);
  dialog.setWindowTitle(ToQt(LABEL_NEW_CARD_CAPTION));
  auto* size = new QComboBox;
  const ui::NewCardStart start = ui::NewCardStartOf(sizes, offered);
  for (const std::string& label : ui::NewCardLabels(sizes)) size->addItem(ToQt(label));
  size->setCurrentIndex(start.row);
  auto* ecc = new QCheckBox(ToQt(LABEL_NEW_CARD_ECC));
  ecc->setAccessibleName(AccessibleLabel(LABEL_NEW_CARD_ECC));
  ecc->setChecked(start.ecc);
  auto* form = new QFormLayout;
  form->addRow(LabelFor(size, LABEL_SIZE), size);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(ecc);
  layout->addWidget(OkCancel(&dialog));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ui::NewCardChoiceAt(sizes, size->currentIndex(), ecc->isChecked(), offered);
}

namespace {

// Only OK and the close box end the About box; Escape does not.
class AboutBox : public QDialog {
 public:
  using QDialog::QDialog;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
  }
};

}  // namespace

void RunAboutBox(QWidget* owner) {
  AboutBox box(owner);
  box.setWindowTitle(ToQt(LABEL_ABOUT_CAPTION));
  auto* icon = new QLabel;
  icon->setPixmap(box.windowIcon().pixmap(32, 32));
  auto* name = new QLabel(ToQt(LABEL_ABOUT_NAME));
  auto* text = new QLabel(ToQt(LABEL_ABOUT_TEXT));
  text->setWordWrap(true);
  for (QLabel* l : {name, text}) l->setAlignment(Qt::AlignHCenter);
  auto* ok = new QPushButton(ToQt(LABEL_OK));
  ok->setAccessibleName(AccessibleLabel(LABEL_OK));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(icon, 0, Qt::AlignHCenter);
  layout->addWidget(name);
  layout->addWidget(text);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
  box.exec();
}

}  // namespace qtui
