// Writes of a row the game may write too: the UPDATE itself finds the row only while the texts the
// game writes are still, byte for byte, those read, so nothing the game wrote meanwhile is lost.
#pragma once

#include <QString>
#include <string>
#include <vector>

class EDatabaseError;
class TCustomMyDataSet;
class TDataSet;

// The UPDATE of the current row's edit, setting each changed field of the row's table, that finds
// the row only while each of texts holds what was read and each of values the value read; empty
// where the row's table or key is not known, nothing changed, or a name is not a plain one.
std::string UpdateIfStillAsRead(TCustomMyDataSet& dataset, const std::vector<std::string>& texts,
                                const std::vector<std::string>& values = {});
// The names of the text fields of the row's updating table, as read.
std::vector<std::string> TableTextFields(TCustomMyDataSet& dataset);
// What the game master is told when the write found no row.
QString ChangedSinceReadText();
// Whether a post failed for that UPDATE finding no row: the game wrote since, or the row is gone.
bool FoundNoRowAsRead(const EDatabaseError& e);
// Posts the edit with that UPDATE, keeping the dataset's own update statement and strictness;
// false when it found no row (nothing written, the edit stays).
bool PostIfStillAsRead(TDataSet& dataset, const std::vector<std::string>& texts,
                       const std::vector<std::string>& values = {});
// Every later post of the dataset's edits, however it comes (a move of the row too), goes with
// that UPDATE, after the dataset's own check before a post; a post finding no row raises the
// error FoundNoRowAsRead takes. For datasets without an update statement of their own.
void PostOnlyIfStillAsRead(TCustomMyDataSet& dataset, std::vector<std::string> texts);
