#include "platform/widgets/DBControls.h"

#include <QKeyEvent>
#include <QMimeData>

#include "platform/db/DataSource.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/JpegImage.h"

// ---- TDBControlLink ----

TDBControlLink::TDBControlLink(std::function<void(TField*)> load, std::function<void(TField*)> store)
    : FLink(std::make_unique<TFieldDataLink>()), FLoad(std::move(load)) {
  FLink->OnDataChange = [this](TFieldDataLink*) { Reload(); };
  if (store) {
    FLink->OnUpdateData = [this, store = std::move(store)](TFieldDataLink*) {
      if (TField* field = FLink->Field()) store(field);
    };
  }
}

// The link leaves its data source quietly: no notice reaches the control being destroyed.
TDBControlLink::~TDBControlLink() = default;

void TDBControlLink::SetDataSource(TDataSource* source) {
  FLink->SetDataSource(source);
  Reload();
}

TDataSource* TDBControlLink::DataSource() const {
  return FLink->DataSource();
}

void TDBControlLink::SetDataField(const std::string& name) {
  FLink->SetFieldName(name);
  Reload();
}

void TDBControlLink::SetCharset(TFieldCharset charset) {
  FCharset = charset;
  Reload();
}

const std::string& TDBControlLink::DataField() const {
  return FLink->FieldName();
}

TField* TDBControlLink::Field() const {
  return FLink->Field();
}

bool TDBControlLink::Editing() const {
  return FLink->Editing();
}

bool TDBControlLink::CanModify() const {
  return FLink->CanModify();
}

bool TDBControlLink::Edit() {
  bool editing = false;
  Guarded([&] { editing = FLink->Edit(); });
  return editing;
}

void TDBControlLink::Changed() {
  if (!FLoading && FLink->Editing()) FLink->Modified();
}

void TDBControlLink::Reload() {
  FLoading = true;
  Guarded([&] { FLoad(FLink->Active() ? FLink->Field() : nullptr); });
  FLoading = false;
}

// ---- TDBEdit ----

TDBEdit::TDBEdit(QWidget* parent)
    : QLineEdit(parent),
      FLink([this](TField* field) { Load(field); },
            [this](TField* field) { field->SetText(FLink.Encode(*field, text())); }) {
  connect(this, &QLineEdit::textEdited, this, [this] { UserEdited(); });
  connect(this, &QLineEdit::textChanged, this, [this] { FLink.Changed(); });
}

TDBEdit::~TDBEdit() = default;

void TDBEdit::Load(TField* field) {
  if (!field) {
    clear();
    return;
  }
  // While the user works in the edit it holds the editable text, else the displayed one.
  setText(FLink.Decode(hasFocus() ? field->Text() : field->DisplayText()));
}

void TDBEdit::UserEdited() {
  if (FLink.Editing()) return;
  const QString typed = text();
  const int cursor = cursorPosition();
  if (!FLink.Edit()) {
    FLink.Reload();  // the dataset may not change: the edit shows the value again
    return;
  }
  // Going into edit state may have shown the record again; the user's text stays.
  if (text() != typed) {
    setText(typed);
    setCursorPosition(cursor);
  }
  FLink.Changed();
}

void TDBEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (!FLink.Editing()) FLink.Reload();
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (!FLink.Editing()) FLink.Reload();
}

// ---- TDBMemo ----

TDBMemo::TDBMemo(QWidget* parent)
    : QPlainTextEdit(parent),
      FLink([this](TField* field) { Load(field); },
            [this](TField* field) { field->SetText(FLink.Encode(*field, toPlainText())); }) {
  connect(this, &QPlainTextEdit::textChanged, this, [this] { FLink.Changed(); });
}

TDBMemo::~TDBMemo() = default;

void TDBMemo::Load(TField* field) {
  setPlainText(field ? FLink.Decode(field->Text()) : QString());
}

bool TDBMemo::BeginUserEdit() {
  if (FLink.Editing()) return true;
  // Going into edit state may show the record again, which moves the cursor to the start.
  const int position = textCursor().position();
  const int anchor = textCursor().anchor();
  if (!FLink.Edit()) return false;
  QTextCursor cursor = textCursor();
  const int end = static_cast<int>(toPlainText().size());
  cursor.setPosition(std::min(anchor, end));
  cursor.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
  setTextCursor(cursor);
  return true;
}

void TDBMemo::keyPressEvent(QKeyEvent* event) {
  // Keys that change the text need the dataset in edit state first; moving and copying do not.
  bool changes = !event->text().isEmpty() || event->matches(QKeySequence::Cut) ||
                 event->matches(QKeySequence::Paste) || event->key() == Qt::Key_Delete ||
                 event->key() == Qt::Key_Backspace;
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) changes = false;
  if (changes && !isReadOnly() && !BeginUserEdit()) return;
  QPlainTextEdit::keyPressEvent(event);
}

void TDBMemo::insertFromMimeData(const QMimeData* source) {
  if (!BeginUserEdit()) return;
  QPlainTextEdit::insertFromMimeData(source);
}

// ---- TDBText ----

TDBText::TDBText(QWidget* parent)
    : QLabel(parent),
      FLink([this](TField* field) { setText(field ? FLink.Decode(field->DisplayText()) : QString()); },
            nullptr) {
  setTextFormat(Qt::PlainText);
}

TDBText::~TDBText() = default;

// ---- TDBImage ----

TDBImage::TDBImage(QWidget* parent) : QLabel(parent), FLink([this](TField* field) { Load(field); }, nullptr) {
  setAlignment(Qt::AlignCenter);
}

TDBImage::~TDBImage() = default;

void TDBImage::Load(TField* field) {
  FPicture = QImage();
  if (field && !field->IsNull()) {
    std::string bytes = field->AsString();
    FPicture = JpegToImage(bytes);
  }
  if (FPicture.isNull()) {
    clear();
  } else {
    setPixmap(QPixmap::fromImage(FPicture));
  }
}
