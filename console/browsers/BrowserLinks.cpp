#include "console/browsers/BrowserLinks.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/ServerWaitBox.h"

void ShowBesides(QWidget* owner, QWidget* tool) {
  auto* child = owner ? qobject_cast<QMdiSubWindow*>(owner->parentWidget()) : nullptr;
  if (QMdiArea* area = child ? child->mdiArea() : nullptr) {
    QMdiSubWindow* sub = area->addSubWindow(tool);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // It reads and writes through owner's connections: a login elsewhere closes it with owner's.
    sub->setProperty(kChildLoginProperty, child->property(kChildLoginProperty));
    sub->setWindowTitle(tool->windowTitle());
    sub->setGeometry(child->geometry());
    sub->show();
    return;
  }
  tool->setParent(owner, Qt::Window);
  tool->show();
}

void CloseIfLeftBehind(QWidget* tool) {
  auto* child = tool ? qobject_cast<QMdiSubWindow*>(tool->parentWidget()) : nullptr;
  if (child == nullptr || !child->property(kChildLeftBehindProperty).toBool()) return;
  // Queued: the handler whose work ended may still be on the stack. A close refused then (new
  // work begun) comes again when that work ends.
  QTimer::singleShot(0, child, [child = QPointer<QMdiSubWindow>(child)] {
    if (child) child->close();
  });
}

void OpenLinked(TLinkedBrowser kind, const TGameLinks& links, QWidget* owner, int64_t accountId,
                const QString& name) {
  if (links.Open != nullptr) links.Open(kind, links, owner, accountId, name);
}

std::unique_ptr<TMyQuery> OpenLookup(TCustomMyConnection& connection, const std::string& sql) {
  const TServerWaitAction waits;
  auto query = std::make_unique<TMyQuery>();
  query->SetCommandTimeout(kReadTimeoutSeconds);
  query->SetConnection(&connection);
  query->SetSQLText(sql);
  query->Open();
  return query;
}
