// Data-aware controls bound to one field of a data source: a line edit, a memo, a label and an
// image. They show the current record's value and follow the dataset as it moves. The edits
// put the dataset into edit state when the user changes their text, mark their link modified
// on every change while the dataset edits (programmatic changes too), and write their text
// into the field when the record is posted.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <functional>
#include <memory>
#include <string>

#include "platform/widgets/FieldText.h"

class TDataSource;
class TField;
class TFieldDataLink;

// The link and the text conversion every data-aware control shares.
class TDBControlLink {
 public:
  // load shows the field's value (nil when there is none); store writes the control's value.
  TDBControlLink(std::function<void(TField*)> load, std::function<void(TField*)> store);
  ~TDBControlLink();
  TDBControlLink(const TDBControlLink&) = delete;
  TDBControlLink& operator=(const TDBControlLink&) = delete;

  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const;
  void SetDataField(const std::string& name);
  const std::string& DataField() const;
  TField* Field() const;
  void SetCharset(TFieldCharset charset);
  TFieldCharset Charset() const noexcept { return FCharset; }

  bool Editing() const;
  bool CanModify() const;
  // Puts the dataset into edit state as the data source allows; false when it may not.
  bool Edit();
  // The control's text changed: marks the link modified while the dataset edits.
  void Changed();
  // Shows the field's value again (after focus moves, or to undo a refused change).
  void Reload();
  // True while Reload sets the control: its change signals are not the user's.
  bool Loading() const noexcept { return FLoading; }

  QString Decode(const std::string& bytes) const { return DecodeFieldText(bytes, FCharset); }
  std::string Encode(const QString& text) const { return EncodeFieldText(text, FCharset); }
  // The bytes to store in the field; raises for text the field cannot hold (FieldTextToStore).
  std::string Encode(const TField& field, const QString& text) const {
    return FieldTextToStore(field, text, FCharset);
  }

 private:
  TFieldCharset FCharset = TFieldCharset::Gbk;
  std::unique_ptr<TFieldDataLink> FLink;
  std::function<void(TField*)> FLoad;
  bool FLoading = false;
};

class TDBEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TDBEdit(QWidget* parent = nullptr);
  ~TDBEdit() override;
  TDBControlLink& Link() noexcept { return FLink; }
  TField* Field() const { return FLink.Field(); }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Load(TField* field);
  void UserEdited();
  TDBControlLink FLink;
};

class TDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TDBMemo(QWidget* parent = nullptr);
  ~TDBMemo() override;
  TDBControlLink& Link() noexcept { return FLink; }
  TField* Field() const { return FLink.Field(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void Load(TField* field);
  // Before a user's change: the dataset goes into edit state, or the change is refused.
  bool BeginUserEdit();
  TDBControlLink FLink;
};

class TDBText : public QLabel {
  Q_OBJECT

 public:
  explicit TDBText(QWidget* parent = nullptr);
  ~TDBText() override;
  TDBControlLink& Link() noexcept { return FLink; }

 private:
  TDBControlLink FLink;
};

// Shows a JPEG held in a blob field; data that does not decode shows nothing. Never writes the
// field.
class TDBImage : public QLabel {
  Q_OBJECT

 public:
  explicit TDBImage(QWidget* parent = nullptr);
  ~TDBImage() override;
  TDBControlLink& Link() noexcept { return FLink; }
  // The decoded picture, null when there is none.
  const QImage& Picture() const noexcept { return FPicture; }

 private:
  void Load(TField* field);
  TDBControlLink FLink;
  QImage FPicture;
};
