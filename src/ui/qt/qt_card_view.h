// The card window in Qt: a window of its own beside the main window, which owns it. The view
// carries out what ui::CardWindow decides and hands it the window's clicks, keys and drops;
// the window exists from the view's Open until its Close.
#pragma once

#include <QImage>
#include <QPointer>

#include "ui/card_view.h"

class QWidget;

namespace ui {
class CardWindow;
}

namespace qtui {

class CardWidget;

// A picture as a QImage; a null image when its pixels don't add up.
QImage ImageOf(const icon::Picture& picture);

class QtCardView : public ui::CardView {
 public:
  // `owner`: the main window, beside which the card window opens and with which it goes.
  explicit QtCardView(QWidget* owner) : owner_(owner) {}
  ~QtCardView() override;
  QtCardView(const QtCardView&) = delete;
  QtCardView& operator=(const QtCardView&) = delete;

  // The logic the window's events go to; set once, before the first Open.
  void SetLogic(ui::CardWindow* logic) { logic_ = logic; }
  // The window while it is open, else nullptr.
  QWidget* Window() const;

  void Open() override;
  void Close() override;
  void SetCaption(const std::string& text) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;
  void SetColumns(std::span<const ui::CardColumn> columns) override;
  void SetRows(const std::vector<ui::CardRow>& rows) override;
  std::vector<int> SelectedRows() override;
  void SetPreview(const icon::Picture* picture) override;
  std::vector<std::string> OpenFilesDialog(const ui::FileDialogRequest& request) override;
  std::optional<ui::ExportChoice> AskExport(const ui::ExportRequest& request) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override;

 private:
  // Beside the main window, as ui::PlaceCardWindow says.
  void Place() const;

  QWidget* owner_;
  ui::CardWindow* logic_ = nullptr;
  QPointer<CardWidget> window_;
};

}  // namespace qtui
