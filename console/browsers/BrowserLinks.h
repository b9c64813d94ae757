// What the browsers need to open one another: the login's three connections, the account
// database's name, the character-set choice and the frame's opener of a linked browser; and where
// a browser opened from another shows. A browser knows no other browser: it asks the opener.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

class QWidget;
class TCustomMyConnection;
class TMyQuery;

// The browsers a link opens, each on one account.
enum class TLinkedBrowser { Accounts, Characters, Warehouse };

struct TGameLinks;
// Opens the browser of kind beside owner (see ShowBesides) over links, on the account whose key is
// accountId and whose name shows as name.
using TLinkedBrowserOpener = void (*)(TLinkedBrowser kind, const TGameLinks& links, QWidget* owner,
                                      int64_t accountId, const QString& name);

struct TGameLinks {
  TCustomMyConnection* Acc = nullptr;
  TCustomMyConnection* Chr = nullptr;
  TCustomMyConnection* Log = nullptr;
  // The account database's name, in the connection's bytes.
  std::string AccDB;
  QString Charset;
  // Filled in by the frame, which knows every browser; without it a link opens nothing.
  TLinkedBrowserOpener Open = nullptr;
};

// Opens a linked browser through links.Open, when there is one.
void OpenLinked(TLinkedBrowser kind, const TGameLinks& links, QWidget* owner, int64_t accountId,
                const QString& name);

// The property of an MDI child that works on a login's connections: the login window (a
// Tlogin*) it was opened under. Children without it hold connections of their own.
inline constexpr char kChildLoginProperty[] = "gmLogin";

// Set by the frame on an MDI child that was busy and refused to close at a login to another zone.
inline constexpr char kChildLeftBehindProperty[] = "gmLeftBehind";

// Told by a tool window whose work just ended: when the frame left it behind on an earlier zone,
// it closes once the handler that ran the work has returned, so that nothing more acts on a zone
// the frame no longer names.
void CloseIfLeftBehind(QWidget* tool);

// Shows tool in owner's MDI area when owner is an MDI child (on owner's login), else as a window
// of its own that owner frees.
void ShowBesides(QWidget* owner, QWidget* tool);

// An open query of sql on connection (with the browsers' read time-out); raises what opening
// raises.
std::unique_ptr<TMyQuery> OpenLookup(TCustomMyConnection& connection, const std::string& sql);
