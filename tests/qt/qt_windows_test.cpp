// The Qt program's windows, driven as a user drives them: menus, buttons, the real file
// dialogs and message boxes, typing, drops. The decisions behind them are the portable
// logic's and are tested with its recording fake; these cases check that the widgets carry
// them out: what the lists show, what reaches the save and the files written.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <fstream>
#include <iterator>

#include "card/card.h"
#include "formats/messages.h"
#include "formats/registry.h"
#include "model/entry_time_text.h"
#include "resource.h"
#include "ui/qt/qt_main_window.h"
#include "ui/qt/qt_text.h"
#include "ui/texts.h"

using qtui::FromQt;
using qtui::QtMainWindow;
using qtui::ToQt;

namespace {

const QString kCorpus = QStringLiteral(MORAVELT_CORPUS_DIR);
const QString kDemo = QStringLiteral(MORAVELT_SOURCE_DIR "/samples/demo.psu");

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// moravelt-cli's exit status for these arguments.
int Cli(const QStringList& args) {
  QProcess cli;
  cli.start(QStringLiteral(MORAVELT_CLI_PATH), args);
  if (!cli.waitForFinished(60000)) return -1;
  return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

// The one widget of type T below `root` that a screen reader calls `name`.
// With `visible`, only one that shows.
template <class T>
T* Named(QWidget* root, const QString& name, bool visible = false) {
  for (T* w : root->findChildren<T*>())
    if (w->accessibleName() == name && (!visible || w->isVisible())) return w;
  return nullptr;
}

QStringList Column(QTreeWidget* list, int column) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
  return out;
}

QAction* MenuCommand(QMainWindow* window, const QString& label) {
  for (QAction* action : window->menuBar()->findChildren<QAction*>())
    if (qtui::AccessibleLabel(FromQt(action->text())) == label) return action;
  return nullptr;
}

// The modal dialogs a case expects, answered in order as each comes up; one that nobody
// expects, or of another kind, is closed and fails the case. Each answer runs from the event
// loop, so that a dialog it opens is answered in turn.
class ModalScript : public QObject {
 public:
  ModalScript() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }
  template <class T>
  ModalScript& Then(std::function<void(T*)> answer) {
    steps_.push_back([answer](QWidget* w) {
      T* dialog = qobject_cast<T*>(w);
      if (dialog) answer(dialog);
      return dialog != nullptr;
    });
    return *this;
  }
  ModalScript& Press(QMessageBox::StandardButton button, QString* text = nullptr) {
    return Then<QMessageBox>([=](QMessageBox* box) {
      if (text) *text = box->text();
      box->button(button)->click();
    });
  }
  ModalScript& Choose(const QString& path) {
    return Then<QFileDialog>([=](QFileDialog* dialog) {
      // Typed into the name field, as a user may type a whole path.
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
      static_cast<QDialog*>(dialog)->accept();
    });
  }
  // True once every answer was given and no dialog came unasked; the script then stops
  // watching, so that the next one has the dialogs to itself.
  bool Finished() {
    if (!QTest::qWaitFor([this] { return (steps_.empty() && running_ == 0) || !failures_.isEmpty(); }, 20000))
      failures_ << QStringLiteral("a dialog did not come up");
    timer_.stop();
    if (!failures_.isEmpty()) qWarning() << failures_;
    return steps_.empty() && failures_.isEmpty();
  }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || answered_.contains(w)) return;
    answered_ << w;
    QPointer<QWidget> dialog(w);
    if (steps_.empty()) {
      failures_ << QStringLiteral("unexpected dialog: ") + w->windowTitle();
      QMetaObject::invokeMethod(this, [dialog] { if (dialog) dialog->close(); }, Qt::QueuedConnection);
      return;
    }
    std::function<bool(QWidget*)> step = steps_.takeFirst();
    ++running_;
    QMetaObject::invokeMethod(this, [this, dialog, step] {
      if (dialog && !step(dialog)) {
        failures_ << QStringLiteral("another dialog than expected: ") + dialog->metaObject()->className();
        dialog->close();
      }
      --running_;
    }, Qt::QueuedConnection);
  }

  QTimer timer_;
  QList<std::function<bool(QWidget*)>> steps_;
  QList<QPointer<QWidget>> answered_;
  int running_ = 0;  // answers begun and not yet over
  QStringList failures_;
};

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { dir_ = std::make_unique<QTemporaryDir>(); }
  void cleanup() {
    window_.reset();
    dir_.reset();
  }

  void openedSaveListsItsFiles_data();
  void openedSaveListsItsFiles();
  void ps1SaveShowsItsIconRegionAndBlocks_data();
  void ps1SaveShowsItsIconRegionAndBlocks();
  void renameInPlace_data();
  void renameInPlace();
  void propertiesEditsATime_data();
  void propertiesEditsATime();
  void saveAsWritesWhatTheCommandLineWrites_data();
  void saveAsWritesWhatTheCommandLineWrites();
  void openedCardListsItsSaves();
  void cardImportsExportsAndDeletes();
  void ps1CardListsAndRestoresADeletedSave();
  void dropsReachBothWindows();
  void savesDragBetweenCardWindows();
  void splitOntoSdCard_data();
  void splitOntoSdCard();
  void mergeFromSdCard();
  void commandLineOpensEachFileInAWindow();
  void assistiveTechnologyReadsAndActs_data();
  void assistiveTechnologyReadsAndActs();
  void everyControlIsNamedAndFitsItsText_data();
  void everyControlIsNamedAndFitsItsText();
  void tabReachesEveryControl_data();
  void tabReachesEveryControl();
  void screenshots();

 private:
  QString Temp(const QString& name) const { return dir_->filePath(name); }
  QtMainWindow& Window() {
    if (!window_) {
      window_ = std::make_unique<QtMainWindow>();
      window_->show();
    }
    return *window_;
  }
  QTreeWidget* Files() { return Named<QTreeWidget>(&Window(), QStringLiteral("Files")); }
  QTreeWidget* Saves() {
    QWidget* cards = Window().CardWindowWidget();
    return cards ? Named<QTreeWidget>(cards, QStringLiteral("Saves")) : nullptr;
  }
  QPushButton* CardButton(const char* label) {
    return Named<QPushButton>(Window().CardWindowWidget(), qtui::AccessibleLabel(label));
  }
  // What the main window shows beside a caption (the mode word, a PS1 save's blocks): the
  // caption's buddy.
  QLabel* Shown(const QString& caption) {
    for (QLabel* label : Window().findChildren<QLabel*>())
      if (label->text() == caption) return qobject_cast<QLabel*>(label->buddy());
    return nullptr;
  }
  QLabel* ModeWord() { return Shown(QStringLiteral(LABEL_ROOT_ATTRIBUTES)); }
  // A new formatted card image, open in the card window.
  QString NewCard();
  // File > Open of a card; true once its window lists the saves.
  bool OpenCard(const QString& card) {
    ModalScript script;
    script.Choose(card);
    MenuCommand(&Window(), QStringLiteral("Open"))->trigger();
    return script.Finished() && Saves();
  }
  // The folders of the card's saves as the library lists them.
  static QStringList LibraryFolders(const QString& card) {
    QStringList folders;
    for (const card::SaveInfo& s : card::OpenCard(FromQt(card)).card->List().saves) folders << ToQt(s.folder);
    return folders;
  }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QtMainWindow> window_;
};

void WindowsTest::openedSaveListsItsFiles_data() {
  QTest::addColumn<QString>("file");
  for (const char* file : {"psu/a.psu", "psu/f.psu", "max/b.max", "xps/a.xps", "cbs/h.cbs", "psv/k.psv"})
    QTest::newRow(file) << kCorpus + u'/' + QString::fromLatin1(file);
}

// File > Open, the file dialog, and the list as the library reads the save.
void WindowsTest::openedSaveListsItsFiles() {
  QFETCH(QString, file);
  if (!QFileInfo::exists(file)) QSKIP("the corpus is not there");
  std::unique_ptr<CSaveGame> save = CreateForExtension(FromQt(QFileInfo(file).suffix()));
  QVERIFY(save && save->Load(FromQt(file)) == LoadResult::kOk);

  ModalScript script;
  script.Choose(file);
  MenuCommand(&Window(), QStringLiteral("Open"))->trigger();
  QVERIFY(script.Finished());

  QStringList names, sizes, modes;
  for (int i = 0; i < save->FileCount(); ++i) {
    names << ToQt(save->EntryAt(i)->Name());
    sizes << ToQt(FormatSize(save->EntryAt(i)->size));
    modes << ToQt(FormatMode(save->EntryAt(i)->mode));
  }
  QCOMPARE(Column(Files(), 0), names);
  QCOMPARE(Column(Files(), 1), sizes);
  QCOMPARE(Column(Files(), 2), modes);
  QCOMPARE(Named<QLineEdit>(&Window(), QStringLiteral("Save folder:"))->text(), ToQt(save->EntryAt(-1)->Name()));
  QCOMPARE(ModeWord()->text(), ToQt(FormatMode(save->EntryAt(-1)->mode)));
}

void WindowsTest::ps1SaveShowsItsIconRegionAndBlocks_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("blocks");
  QTest::newRow("mcs") << QStringLiteral("ps1save/a.mcs") << QStringLiteral("BISLPS-01416-DIAB-01")
                       << QStringLiteral("PS1 save, Japan:") << QStringLiteral("10 blocks");
  QTest::newRow("psv") << QStringLiteral("ps1save/d.psv") << QStringLiteral("BASLUS-01105SYSTEM")
                       << QStringLiteral("PS1 save, America:") << QStringLiteral("1 block");
}

// A PS1 save's fields go by their own labels, which name the fields for a screen reader too,
// and its icon shows beside them; a PS2 save opened next takes the icon away again.
void WindowsTest::ps1SaveShowsItsIconRegionAndBlocks() {
  QFETCH(QString, file);
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QString, blocks);
  if (!QFileInfo::exists(kCorpus + u'/' + file)) QSKIP("the corpus is not there");
  ModalScript script;
  script.Choose(kCorpus + u'/' + file);
  MenuCommand(&Window(), QStringLiteral("Open"))->trigger();
  QVERIFY(script.Finished());
  QCOMPARE(Named<QLineEdit>(&Window(), QStringLiteral("Card name:"))->text(), name);
  QVERIFY(Shown(caption) != nullptr);
  QCOMPARE(Shown(caption)->text(), blocks);
  QLabel* icon = Named<QLabel>(&Window(), QStringLiteral("Icon"));
  QVERIFY(!icon->pixmap().isNull());
  QCOMPARE(icon->pixmap().width(), 32);

  ModalScript next;
  next.Choose(kDemo);
  MenuCommand(&Window(), QStringLiteral("Open"))->trigger();
  QVERIFY(next.Finished());
  QVERIFY(icon->pixmap().isNull());
  QVERIFY(Named<QLineEdit>(&Window(), QStringLiteral("Save folder:")) != nullptr);
}

void WindowsTest::renameInPlace_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("taken");
  QTest::newRow("a new name") << QStringLiteral("RENAMED.DAT") << true;
  QTest::newRow("32 characters") << QString(32, u'N') << true;
  QTest::newRow("33 characters") << QString(33, u'N') << false;
}

// F2 on the selected row, typing, Enter: the row and the save take a name the logic accepts,
// and neither a refused one.
void WindowsTest::renameInPlace() {
  QFETCH(QString, typed);
  QFETCH(bool, taken);
  Window().logic().OpenPath(FromQt(kDemo));
  QTreeWidget* list = Files();
  const int row = 2;
  const QString before = list->topLevelItem(row)->text(0);
  list->setCurrentItem(list->topLevelItem(row));
  list->setFocus();
  QTest::keyClick(list, Qt::Key_F2);
  auto* editor = list->findChild<QLineEdit*>();
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, typed);
  QString message;
  ModalScript script;
  if (!taken) script.Press(QMessageBox::Ok, &message);
  QTest::keyClick(editor, Qt::Key_Return);
  QVERIFY(script.Finished());
  QTRY_COMPARE(list->topLevelItem(row)->text(0), taken ? typed : before);
  QCOMPARE(ToQt(Window().logic().commands().LoadedSave()->EntryAt(row)->Name()), taken ? typed : before);
  QCOMPARE(message, taken ? QString() : ToQt(ui::kNameTooLong));
}

void WindowsTest::propertiesEditsATime_data() {
  QTest::addColumn<QString>("typed");  // digits typed over the entry form
  QTest::addColumn<QString>("refusal");
  QTest::newRow("a valid time") << QStringLiteral("01022003040506") << QString();
  QTest::newRow("month 13") << QStringLiteral("01132003040506") << ToQt(kInvalidTimeMessage);
  QTest::newRow("a blank digit") << QStringLiteral("\x7f") << ToQt(kBlankDigitsMessage);
}

// A double click opens the row's Properties; "Edit", typing and "Ok" change the creation
// time, or refuse it with the program's message; the dialog's OK hands the time to the save.
void WindowsTest::propertiesEditsATime() {
  QFETCH(QString, typed);
  QFETCH(QString, refusal);
  Window().logic().OpenPath(FromQt(kDemo));
  const int row = 1;
  const EntryTime before = Window().logic().commands().LoadedSave()->EntryAt(row)->created;
  QString shown, message;
  ModalScript script;
  script.Then<QDialog>([&](QDialog* dialog) {
    QPushButton* edit = Named<QPushButton>(dialog, QStringLiteral("Edit"));
    auto* display = Named<QLineEdit>(dialog, QStringLiteral("Created:"), true);
    edit->click();
    auto* entry = Named<QLineEdit>(dialog, QStringLiteral("Created:"), true);
    if (!entry || entry == display) return dialog->reject();
    for (QChar c : typed) QTest::keyClick(entry, c == u'\x7f' ? Qt::Key_Delete : Qt::Key(c.unicode()));
    edit->click();
    shown = Named<QLineEdit>(dialog, QStringLiteral("Created:"), true)->text();
    Named<QPushButton>(dialog, QStringLiteral("OK"))->click();
  });
  if (!refusal.isEmpty()) script.Press(QMessageBox::Ok, &message);
  QTreeWidget* list = Files();
  const QRect rect = list->visualItemRect(list->topLevelItem(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  QVERIFY(script.Finished());

  const EntryTime after = Window().logic().commands().LoadedSave()->EntryAt(row)->created;
  const TimeEntry typedTime = ReadEntryForm(FromQt(typed.mid(0, 2) + u'-' + typed.mid(2, 2) + u'-' + typed.mid(4, 4) + u' ' +
                                                  typed.mid(8, 2) + u':' + typed.mid(10, 2) + u':' + typed.mid(12, 2)));
  const EntryTime expected = refusal.isEmpty() ? typedTime.time : before;
  QCOMPARE(message, refusal);
  QCOMPARE(shown, ToQt(DisplayForm(expected)));
  QCOMPARE(ToQt(EntryForm(after)), ToQt(EntryForm(expected)));
}

void WindowsTest::saveAsWritesWhatTheCommandLineWrites_data() {
  QTest::addColumn<QString>("extension");
  for (const char* e : {"xps", "max", "cbs", "psv", "psu"}) QTest::newRow(e) << QString::fromLatin1(e);
}

// File > Save as to another family writes the bytes `moravelt-cli convert` writes.
void WindowsTest::saveAsWritesWhatTheCommandLineWrites() {
  QFETCH(QString, extension);
  Window().logic().OpenPath(FromQt(kDemo));
  const QString saved = Temp(QStringLiteral("saved.") + extension);
  const QString converted = Temp(QStringLiteral("converted.") + extension);
  ModalScript script;
  script.Choose(saved);
  MenuCommand(&Window(), QStringLiteral("Save as"))->trigger();
  QVERIFY(script.Finished());
  QCOMPARE(Cli({QStringLiteral("convert"), kDemo, converted}), 0);
  QVERIFY(!Bytes(saved).isEmpty());
  QCOMPARE(Bytes(saved), Bytes(converted));
}

// File > Open of a card image opens the card window with the card's saves.
void WindowsTest::openedCardListsItsSaves() {
  const QString corpusCard = kCorpus + QStringLiteral("/card/a.ps2");
  if (!QFileInfo::exists(corpusCard)) QSKIP("the corpus is not there");
  const QString card = Temp(QStringLiteral("a.ps2"));
  QVERIFY(QFile::copy(corpusCard, card));
  QVERIFY(OpenCard(card));
  const QStringList folders = LibraryFolders(card);
  QCOMPARE(Column(Saves(), 0), folders);
  for (int i = 0; i < Saves()->topLevelItemCount(); ++i) QVERIFY(!Saves()->topLevelItem(i)->icon(0).isNull());
}

QString WindowsTest::NewCard() {
  const QString card = Temp(QStringLiteral("new.ps2"));
  ModalScript script;
  script.Then<QDialog>([](QDialog* dialog) { dialog->accept(); }).Choose(card);
  MenuCommand(&Window(), QStringLiteral("New Card..."))->trigger();
  return script.Finished() && Saves() ? card : QString();
}

// Import... takes a save, Export... writes it as the command line exports it, Delete removes
// it after the question; the card on the disk follows each step.
void WindowsTest::cardImportsExportsAndDeletes() {
  const QString card = NewCard();
  QVERIFY(!card.isEmpty());
  ModalScript import;
  import.Choose(kDemo);
  CardButton(LABEL_CARD_IMPORT)->click();
  QVERIFY(import.Finished());
  const std::vector<card::SaveInfo> onCard = card::OpenCard(FromQt(card)).card->List().saves;
  QCOMPARE(onCard.size(), std::size_t{1});
  const QString folder = ToQt(onCard.front().folder);
  QCOMPARE(Column(Saves(), 0), QStringList{folder});

  Saves()->topLevelItem(0)->setSelected(true);
  const QString exported = Temp(QStringLiteral("out"));
  ModalScript exporting;
  exporting.Then<QDialog>([&](QDialog* dialog) {
    Named<QLineEdit>(dialog, QStringLiteral("Folder:"))->setText(exported);
    auto* format = Named<QComboBox>(dialog, QStringLiteral("Format:"));
    format->setCurrentIndex(format->findText(QStringLiteral("(*.psu)"), Qt::MatchContains));
    dialog->accept();
  });
  CardButton(LABEL_CARD_EXPORT)->click();
  QVERIFY(exporting.Finished());
  const QString expected = Temp(QStringLiteral("cli.psu"));
  QCOMPARE(Cli({QStringLiteral("convert"), card + u':' + folder, expected}), 0);
  QCOMPARE(Bytes(exported + u'/' + folder + QStringLiteral(".psu")), Bytes(expected));

  QString question;
  ModalScript deleting;
  deleting.Press(QMessageBox::Yes, &question);
  CardButton(LABEL_CARD_DELETE)->click();
  QVERIFY(deleting.Finished());
  QVERIFY(question.contains(folder));
  QCOMPARE(Saves()->topLevelItemCount(), 0);
  QVERIFY(card::OpenCard(FromQt(card)).card->List().saves.empty());
}

// A PS1 card lists its deleted saves beside the live ones; Restore, offered only for a
// deleted save, brings one back on the disk and in the list.
void WindowsTest::ps1CardListsAndRestoresADeletedSave() {
  const QString corpusCard = kCorpus + QStringLiteral("/ps1card/d.gme");
  if (!QFileInfo::exists(corpusCard)) QSKIP("the corpus is not there");
  const QString card = Temp(QStringLiteral("d.gme"));
  QVERIFY(QFile::copy(corpusCard, card));
  QFile::setPermissions(card, QFile::ReadOwner | QFile::WriteOwner);
  QVERIFY(OpenCard(card));
  const QStringList folders = LibraryFolders(card);
  QCOMPARE(Column(Saves(), 0), folders);
  QCOMPARE(Saves()->headerItem()->text(3), ToQt(std::string(ui::kSlotsColumn)));
  const QString name = QStringLiteral("BASCUS-94163FF7-S14");
  const int row = static_cast<int>(folders.indexOf(name));
  QVERIFY(row >= 0);
  QVERIFY(CardButton(LABEL_CARD_RESTORE));
  QVERIFY(!CardButton(LABEL_CARD_RESTORE)->isEnabled());
  Saves()->topLevelItem(row)->setSelected(true);
  QVERIFY(CardButton(LABEL_CARD_RESTORE)->isEnabled());
  QVERIFY(!CardButton(LABEL_CARD_DELETE)->isEnabled());
  ModalScript restoring;
  CardButton(LABEL_CARD_RESTORE)->click();
  QVERIFY(restoring.Finished());
  bool restored = false;
  for (const card::SaveInfo& s : card::OpenCard(FromQt(card)).card->List().saves)
    if (ToQt(s.folder) == name) restored = !s.deleted && s.readable;
  QVERIFY(restored);
  QCOMPARE(Saves()->topLevelItem(row)->text(3), QStringLiteral("6"));
}

void WindowsTest::splitOntoSdCard_data() {
  QTest::addColumn<QString>("device");
  QTest::addColumn<QString>("written");  // the card made, under the SD card's folder
  QTest::newRow("sd2psx") << QStringLiteral("sd2psx") << QStringLiteral("MemoryCards/PS2/SLES-00000/SLES-00000-1.mcd");
  QTest::newRow("MemCard PRO 2") << QStringLiteral("MemCard PRO 2") << QStringLiteral("SLES-00000/SLES-00000-1.mc2");
  QTest::newRow("Open PS2 Loader") << QStringLiteral("Open PS2 Loader") << QStringLiteral("VMC/SLES_000.00_0.bin");
}

// Split onto SD card...: the dialog under its own caption and label takes a folder a user
// named and a device; the card of the save's game is made there, and the report says so.
void WindowsTest::splitOntoSdCard() {
  QFETCH(QString, device);
  QFETCH(QString, written);
  const QString card = NewCard();
  QVERIFY(!card.isEmpty());
  Window().logic().cards().OnDropFiles({FromQt(kDemo)});
  const QByteArray before = Bytes(card);
  const QString root = Temp(QStringLiteral("SD card \u00e9"));
  QVERIFY(QDir().mkpath(root));
  QString caption, report;
  ModalScript script;
  script.Then<QDialog>([&](QDialog* dialog) {
    caption = dialog->windowTitle();
    Named<QLineEdit>(dialog, QStringLiteral("Folder:"))->setText(root);
    auto* devices = Named<QComboBox>(dialog, ToQt(ui::kSplitDeviceLabel));
    if (devices) devices->setCurrentIndex(devices->findText(device, Qt::MatchContains));
    dialog->accept();
  }).Press(QMessageBox::Ok, &report);
  CardButton(LABEL_CARD_SPLIT)->click();
  QVERIFY(script.Finished());
  QCOMPARE(caption, ToQt(ui::kSplitCaption));
  QVERIFY2(report.contains(QStringLiteral("BESLES-00000DEMO -> ") + written), qPrintable(report));
  card::OpenedCard made = card::OpenCard(FromQt(root + u'/' + written));
  QVERIFY(made.card);
  QCOMPARE(made.card->List().saves.size(), std::size_t{1});
  QCOMPARE(made.card->List().saves.front().folder, std::string("BESLES-00000DEMO"));
  QCOMPARE(Bytes(card), before);
}

// Merge from SD card...: the folder picker, then every card's saves on the open card, in its
// list and on the disk.
void WindowsTest::mergeFromSdCard() {
  const QString source = Temp(QStringLiteral("source.ps2"));
  const QString root = Temp(QStringLiteral("sd"));
  QVERIFY(QDir().mkpath(root));
  QCOMPARE(Cli({QStringLiteral("card"), QStringLiteral("format"), source}), 0);
  QCOMPARE(Cli({QStringLiteral("card"), QStringLiteral("import"), source, kDemo}), 0);
  QCOMPARE(Cli({QStringLiteral("sd"), QStringLiteral("split"), source, root}), 0);
  const QString card = NewCard();
  QVERIFY(!card.isEmpty());
  QString report;
  ModalScript script;
  script.Choose(root).Press(QMessageBox::Ok, &report);
  CardButton(LABEL_CARD_MERGE)->click();
  QVERIFY(script.Finished());
  QVERIFY2(report.contains(QStringLiteral("BESLES-00000DEMO <- MemoryCards/PS2/SLES-00000/SLES-00000-1.mcd")), qPrintable(report));
  QCOMPARE(Column(Saves(), 0), QStringList{QStringLiteral("BESLES-00000DEMO")});
  const std::vector<card::SaveInfo> onCard = card::OpenCard(FromQt(card)).card->List().saves;
  QCOMPARE(onCard.size(), std::size_t{1});
  QCOMPARE(onCard.front().folder, std::string("BESLES-00000DEMO"));
}

// Files dropped on the main window join the save as its files; saves dropped on the card
// window go onto the card.
void WindowsTest::dropsReachBothWindows() {
  auto drop = [](QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted()) QApplication::sendEvent(target, &dropped);
  };
  const QString first = Temp(QStringLiteral("FIRST.DAT")), second = Temp(QStringLiteral("second.bin"));
  for (const QString& p : {first, second}) {
    QFile f(p);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("bytes") == 5);
  }
  drop(&Window(), {first, second});
  QCOMPARE(Column(Files(), 0), (QStringList{QStringLiteral("FIRST.DAT"), QStringLiteral("second.bin")}));

  const QString card = NewCard();
  QVERIFY(!card.isEmpty());
  drop(Window().CardWindowWidget(), {kDemo});
  QCOMPARE(Saves()->topLevelItemCount(), 1);
  QCOMPARE(card::OpenCard(FromQt(card)).card->List().saves.size(), std::size_t{1});
}

// A save dragged with the mouse from one card window onto another's, each of its own main
// window, is copied onto that card. A drag needs a display: qt_windows_drag runs this in Xvfb.
void WindowsTest::savesDragBetweenCardWindows() {
  if (QGuiApplication::platformName() != u"xcb") QSKIP("a drag needs an X server");
  QtMainWindow windows[2];
  QString cards[2];
  QTreeWidget* lists[2];
  for (int i = 0; i < 2; ++i) {
    cards[i] = Temp(QStringLiteral("card%1.ps2").arg(i));
    QVERIFY(card::FormatImage(FromQt(cards[i]), card::FormatOptions{}) == card::FormatResult::kFormatted);
    windows[i].move(20 + 800 * i, 560);  // below the card windows, which the drag crosses
    windows[i].show();
    windows[i].logic().OpenPath(FromQt(cards[i]));
    windows[i].CardWindowWidget()->move(20 + 800 * i, 20);
    QVERIFY(QTest::qWaitForWindowExposed(windows[i].CardWindowWidget()));
    lists[i] = Named<QTreeWidget>(windows[i].CardWindowWidget(), QStringLiteral("Saves"));
  }
  windows[0].logic().cards().OnDropFiles({FromQt(kDemo)});
  // Once the drag has begun: over the other list, and let go there.
  QWindow* onto = windows[1].CardWindowWidget()->windowHandle();
  const QPoint over = lists[1]->viewport()->mapTo(windows[1].CardWindowWidget(), lists[1]->viewport()->rect().center());
  QTimer::singleShot(200, [&] {
    for (int step = 0; step < 3; ++step) QTest::mouseMove(onto, over + QPoint(step, step));
    QTest::mouseRelease(onto, Qt::LeftButton, {}, over);
  });
  const QPoint row = lists[0]->visualItemRect(lists[0]->topLevelItem(0)).center();
  QTest::mousePress(lists[0]->viewport(), Qt::LeftButton, {}, row);
  for (int dx : {2, QApplication::startDragDistance() + 10}) QTest::mouseMove(lists[0]->viewport(), row + QPoint(dx, 0));
  QTRY_COMPARE(Column(lists[1], 0), Column(lists[0], 0));
  QCOMPARE(LibraryFolders(cards[1]), LibraryFolders(cards[0]));
}

// `moravelt SAVE CARD`: a window for each, the save shown in one, the card in the other's
// card window.
void WindowsTest::commandLineOpensEachFileInAWindow() {
  const QString card = NewCard();
  window_.reset();
  const QList<QWidget*> before = QApplication::topLevelWidgets();
  qtui::OpenWindows({FromQt(kDemo), FromQt(card)});
  QtMainWindow* withSave = nullptr;
  QtMainWindow* withCard = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* main = dynamic_cast<QtMainWindow*>(w);
    if (!main || before.contains(w)) continue;
    (main->logic().commands().SaveLoaded() ? withSave : withCard) = main;
  }
  QVERIFY(withSave && withCard);
  std::unique_ptr<CSaveGame> demo = CreateForExtension("psu");
  QVERIFY(demo->Load(FromQt(kDemo)) == LoadResult::kOk);
  QCOMPARE(Column(Named<QTreeWidget>(withSave, QStringLiteral("Files")), 0).size(), demo->FileCount());
  QVERIFY(withSave->CardWindowWidget() == nullptr);
  QVERIFY(withCard->CardWindowWidget() && withCard->CardWindowWidget()->isVisible());
  for (QtMainWindow* w : {withSave, withCard}) w->close();
}

void WindowsTest::assistiveTechnologyReadsAndActs_data() {
  QTest::addColumn<QString>("what");
  QTest::newRow("the mode word is read") << QStringLiteral("mode word");
  QTest::newRow("a mode box toggled reaches the save") << QStringLiteral("mode box");
  QTest::newRow("the card window is a window") << QStringLiteral("card window");
}

// What a screen reader reads and does, through Qt's accessibility interfaces: the mode
// word by its text, a mode box's Toggle action saved by OK as a click is, and the card
// window among the program's windows under its title.
void WindowsTest::assistiveTechnologyReadsAndActs() {
  QFETCH(QString, what);
  Window().logic().OpenPath(FromQt(kDemo));
  const std::uint32_t mode = Window().logic().commands().LoadedSave()->EntryAt(-1)->mode;
  if (what == u"mode word") {
    QLabel* word = ModeWord();
    QVERIFY(word);
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(word);
    QVERIFY(read);
    QCOMPARE(read->text(QAccessible::Name), ToQt(FormatMode(mode)));
  } else if (what == u"mode box") {
    // Toggled by the screen reader; beside it, boxes changed by a click and by the space
    // bar, one of them set before, each flip counted once.
    QCOMPARE(mode & 0xC9u, 0x01u);
    ModalScript script;
    script.Then<QDialog>([](QDialog* dialog) {
      auto* box = Named<QCheckBox>(dialog, QStringLiteral(LABEL_MODE_3));
      QAccessibleInterface* control = box ? QAccessible::queryAccessibleInterface(box) : nullptr;
      if (control && control->actionInterface())
        control->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
      QTest::mouseClick(Named<QCheckBox>(dialog, QStringLiteral(LABEL_MODE_6)), Qt::LeftButton);
      QTest::mouseClick(Named<QCheckBox>(dialog, QStringLiteral(LABEL_MODE_0)), Qt::LeftButton);
      QTest::keyClick(Named<QCheckBox>(dialog, QStringLiteral(LABEL_MODE_7)), Qt::Key_Space);
      Named<QPushButton>(dialog, QStringLiteral("OK"))->click();
    });
    Window().logic().OnCommand(IDC_FOLDER_PROPERTIES, 0);
    QVERIFY(script.Finished());
    QCOMPARE(ToQt(FormatMode(Window().logic().commands().LoadedSave()->EntryAt(-1)->mode)), ToQt(FormatMode(mode ^ 0xC9u)));
  } else {
    QVERIFY(!NewCard().isEmpty());
    QWidget* cards = Window().CardWindowWidget();
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(cards);
    QVERIFY(window);
    QVERIFY2(window->role() == QAccessible::Dialog || window->role() == QAccessible::Window,
             qPrintable(QString::number(window->role(), 16)));
    QCOMPARE(window->text(QAccessible::Name), ToQt(std::string(ui::kCardCaption) + "new.ps2"));
    QAccessibleInterface* program = QAccessible::queryAccessibleInterface(qApp);
    bool listed = false;
    for (int i = 0; i < program->childCount(); ++i) listed = listed || program->child(i)->object() == cards;
    QVERIFY(listed);
  }
}

void WindowsTest::everyControlIsNamedAndFitsItsText_data() {
  QTest::addColumn<QString>("window");
  QTest::addColumn<double>("fontScale");
  for (const char* w : {"main", "properties", "card", "export", "new card"}) {
    QTest::newRow(w) << QString::fromLatin1(w) << 1.0;
    QTest::newRow((std::string(w) + ", large font").c_str()) << QString::fromLatin1(w) << 2.0;
  }
}

// Every control a user reaches carries the name of its label, and no text is cut: the
// windows lay themselves out for the font and the scale of the desktop.
void WindowsTest::everyControlIsNamedAndFitsItsText() {
  QFETCH(QString, window);
  QFETCH(double, fontScale);
  const QFont font = QApplication::font();
  QFont large = font;
  large.setPointSizeF(font.pointSizeF() * fontScale);
  QApplication::setFont(large);
  QStringList faults;
  auto check = [&faults](QWidget* root) {
    // A window grows to what its texts need once the layout has had its events.
    QTest::qWait(50);
    (void)QTest::qWaitFor([root] { return root->width() >= root->minimumSizeHint().width(); }, 1000);
    for (QWidget* w : root->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(root)) continue;
      const QLabel* label = qobject_cast<QLabel*>(w);
      const QString what = QString::fromLatin1(w->metaObject()->className()) + u' ' +
                           (label ? label->text() : w->accessibleName()) +
                           QStringLiteral(", %1x%2 for %3x%4").arg(w->width()).arg(w->height()).arg(w->minimumSizeHint().width()).arg(w->minimumSizeHint().height());
      if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->accessibleName() != qtui::AccessibleLabel(FromQt(b->text())))
        faults << QStringLiteral("misnamed ") + what + QStringLiteral(" for ") + b->text();
      if ((qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QTreeWidget*>(w)) && w->accessibleName().isEmpty())
        faults << QStringLiteral("unnamed ") + what;
      if ((qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) && (w->width() < w->minimumSizeHint().width() || w->height() < w->minimumSizeHint().height()))
        faults << QStringLiteral("cut ") + what;
    }
  };
  // Each window as a user meets it: the main window and the card window with something in
  // them, the dialogs over them.
  if (window != u"new card") Window().logic().OpenPath(FromQt(kDemo));
  if (window == u"card" || window == u"export") {
    QVERIFY(!NewCard().isEmpty());
    Window().logic().cards().OnDropFiles({FromQt(kDemo)});
    Saves()->topLevelItem(0)->setSelected(true);
  }
  ModalScript script;
  if (window == u"main") {
    check(&Window());
  } else if (window == u"card") {
    check(Window().CardWindowWidget());
  } else {
    script.Then<QDialog>([&](QDialog* d) { check(d); d->reject(); });
    if (window == u"properties") Window().logic().OnCommand(IDC_FOLDER_PROPERTIES, 0);
    else if (window == u"new card") MenuCommand(&Window(), QStringLiteral("New Card..."))->trigger();
    else CardButton(LABEL_CARD_EXPORT)->click();
  }
  QApplication::setFont(font);
  QVERIFY(script.Finished());
  QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void WindowsTest::tabReachesEveryControl_data() {
  QTest::addColumn<bool>("card");
  QTest::newRow("main window") << false;
  QTest::newRow("card window") << true;
}

// Tab, pressed again and again, comes to every enabled control of the window.
void WindowsTest::tabReachesEveryControl() {
  QFETCH(bool, card);
  Window().logic().OpenPath(FromQt(kDemo));
  if (card) {
    QVERIFY(!NewCard().isEmpty());
    Window().logic().cards().OnDropFiles({FromQt(kDemo)});
    Saves()->topLevelItem(0)->setSelected(true);
  }
  QWidget* window = card ? Window().CardWindowWidget() : &Window();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window));
  QSet<QWidget*> controls, reached;
  for (QWidget* w : window->findChildren<QWidget*>())
    if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTreeWidget*>(w)) &&
        w->isVisible() && w->isEnabled())
      controls << w;
  window->findChildren<QPushButton*>().front()->setFocus();
  for (int i = 0; i < 2 * controls.size() + 2; ++i) {
    reached << QApplication::focusWidget();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  for (QWidget* w : controls) QVERIFY2(reached.contains(w), qPrintable(w->accessibleName()));
}

// Not a check: with MORAVELT_SCREENSHOTS=FOLDER on an X server (scripts/screenshots runs it
// in Xvfb), the pictures of docs/ as the screen shows them: the main window with a save, the
// Properties of its folder with a time being edited, the card window beside the main window.
void WindowsTest::screenshots() {
  const QString folder = qEnvironmentVariable("MORAVELT_SCREENSHOTS");
  if (folder.isEmpty() || QGuiApplication::platformName() != u"xcb") QSKIP("MORAVELT_SCREENSHOTS, on X");
  auto shoot = [&folder](const QList<QWidget*>& windows, const QString& name) {
    QTest::qWait(300);
    QRect area;
    for (QWidget* w : windows) area |= w->frameGeometry();
    const QString crop = QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    QCOMPARE(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"), crop, folder + u'/' + name}), 0);
  };
  const QString save = QFileInfo::exists(kCorpus + QStringLiteral("/psu/a.psu")) ? kCorpus + QStringLiteral("/psu/a.psu") : kDemo;
  Window().logic().OpenPath(FromQt(save));
  Files()->setCurrentItem(Files()->topLevelItem(0));
  shoot({&Window()}, QStringLiteral("screenshot-qt-main.png"));

  ModalScript script;
  script.Then<QDialog>([&](QDialog* dialog) {
    Named<QPushButton>(dialog, QStringLiteral("Edit"))->click();
    shoot({&Window(), dialog}, QStringLiteral("screenshot-qt-properties.png"));
    dialog->reject();
  });
  Window().logic().OnCommand(IDC_FOLDER_PROPERTIES, 0);
  QVERIFY(script.Finished());

  const QString corpusCard = kCorpus + QStringLiteral("/card/a.ps2");
  const QString card = Temp(QStringLiteral("a.ps2"));
  if (QFileInfo::exists(corpusCard)) QVERIFY(QFile::copy(corpusCard, card));
  else QVERIFY(!NewCard().isEmpty() && QFile::rename(Temp(QStringLiteral("new.ps2")), card));
  Window().logic().OpenPath(FromQt(card));
  if (Saves()->topLevelItemCount() == 0) Window().logic().cards().OnDropFiles({FromQt(kDemo)});
  Saves()->topLevelItem(Saves()->topLevelItemCount() - 1)->setSelected(true);
  shoot({&Window(), Window().CardWindowWidget()}, QStringLiteral("screenshot-qt-card.png"));
}

QTEST_MAIN(WindowsTest)
#include "qt_windows_test.moc"
