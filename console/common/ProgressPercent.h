// The percentage a long run shows as it walks its rows (the item import and sending, the merge,
// the backup window's repair and optimize).
#pragma once

// Which way a percentage exactly halfway between two whole numbers goes.
enum class TPercentTies { ToEven, AwayFromZero };

// (i+1)/n*100 for the 0-based row i of n, rounded to the nearest whole number, computed exactly
// (a double quotient puts 23/40 just below 57.5); 100 when n is 0 or less.
int ProgressPercent(int i, int n, TPercentTies ties = TPercentTies::ToEven);
