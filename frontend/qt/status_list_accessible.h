// The status list on the accessibility bus, where it would otherwise be an
// empty frame: a list whose children are its lines, each named by its text,
// as an item view shows its rows to a screen reader.
#pragma once

class StatusList;

// Makes QAccessible::queryAccessibleInterface answer for every StatusList.
// Call any number of times; the first call installs it.
void InstallStatusListAccessibility();

// Tells a screen reader on the accessibility bus that the line at index is
// new, as an item view announces an inserted row; with none there, nothing.
void AnnounceNewLine(StatusList& list, int index);
