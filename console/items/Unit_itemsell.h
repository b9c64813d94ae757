// The item-issuing window "物品发放": pending gifts (items, gold, experience, credit) for up to 10
// named characters or for every character a filter finds, the item-name table's creation and
// import, and clearing pending gifts. The window wires; TItemSell does the work and reports
// through the window as its sink. While a send or an import runs the window refuses to close and
// every control that could start another is disabled; only the stop button acts.
#pragma once

#include <QWidget>
#include <memory>

#include "console/items/ItemSell.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QWidget;
class TFlatButton;

class Titemsell : public QWidget, private TItemSellSink {
  Q_OBJECT

 public:
  Titemsell(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent = nullptr);
  ~Titemsell() override;

  TItemSell& Work() noexcept { return *FWork; }
  bool Busy() const noexcept { return FBusy; }

  // The creation steps: the table state label and the buttons that go with it.
  void ShowTableState();
  // Button1: the send; Button6: the stop question.
  void Send();
  void Stop();
  // btn2: items.csv into t_itemname; lbl2: the format text.
  void ImportItems();
  void ShowImportFormat();
  // The creation after its question (btn1, or Memo2's offer when the table is missing).
  void CreateItemTable();
  // A press on Memo1 or Memo2: the character or item picker (modal).
  void AddCharacters();
  void AddItems();
  // Button4 and Button5.
  void ClearCharacterList();
  void ClearItemList();
  // Button3 (the console's own gifts) and Button2 (every pending gift).
  void ClearGifts(bool ownOnly);
  void FilterChanged(int index);

  QLabel* lbl1 = nullptr;
  TFlatButton* btn1 = nullptr;
  TFlatButton* btn2 = nullptr;
  QLabel* lbl2 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QRadioButton* rb1 = nullptr;
  QRadioButton* rb2 = nullptr;
  QRadioButton* rb3 = nullptr;
  QRadioButton* rb4 = nullptr;
  QRadioButton* rb5 = nullptr;
  QRadioButton* rb6 = nullptr;
  QLineEdit* edt1 = nullptr;  // gold
  QLineEdit* edt4 = nullptr;  // experience
  QLineEdit* edt2 = nullptr;  // credit
  QComboBox* cbb1 = nullptr;  // filter
  QLineEdit* edt3 = nullptr;  // filter value
  QLabel* lbl7 = nullptr;     // filter hint
  TFlatButton* Button4 = nullptr;
  TFlatButton* Button5 = nullptr;
  QDateTimeEdit* dtp1 = nullptr;
  TFlatButton* Button1 = nullptr;
  TFlatButton* Button6 = nullptr;
  TFlatButton* Button3 = nullptr;
  TFlatButton* Button2 = nullptr;
  QWidget* pnl2 = nullptr;
  QProgressBar* pb1 = nullptr;
  QLabel* lbl5 = nullptr;
  QLabel* lbl6 = nullptr;
  QLabel* stat1Panel0 = nullptr;
  QLabel* stat1Panel1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TBusyScope;
  void BuildControls();
  QWidget* BuildTargetBox();
  QWidget* BuildGiftBox();
  void GiftKindChanged();
  void TargetChanged();
  void CheckCharacterList();
  void SetBusy(bool on);
  bool KeyFiltered(QObject* watched, QEvent* event);

  // The sink.
  void Status(const QString& text) override;
  void Progress(const QString& text, int percent) override;
  void ProcessMessages() override;
  bool StopRequested() override { return FStop; }
  bool Ask(const QString& text) override;
  void Message(const QString& text, const QString& caption, TMsgIcon icon) override;

  TCustomMyConnection& FConnection;
  TFieldCharset FCharset;
  std::unique_ptr<TItemSell> FWork;
  bool FBusy = false;
  bool FImporting = false;
  // The stop flag: set once the game master confirmed the stop.
  bool FStop = false;
  bool FTableFound = false;
};
