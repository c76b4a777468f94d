#pragma once
// The desktop's login start for a job run directly (no user service manager):
// "<label>.desktop" in the XDG autostart folder, so that a job that runs at
// load starts again at the next login as launchd would load its job file.
// Only entries that carry our mark are ever replaced or removed.
#include <QString>
#include <QStringList>

namespace AutostartEntry {

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
QString directory();
QString pathForLabel(const QString& label);
// The Exec value running exactly these arguments: each argument quoted where
// the desktop entry rules need it, then escaped as a string value.
QString execLine(const QStringList& arguments);
// The whole entry for the job's label and argument vector.
QString entry(const QString& label, const QStringList& arguments);
bool isOurs(const QString& label);
// Writes the entry unless an entry of the user's own lies there; false when writing failed.
bool write(const QString& label, const QStringList& arguments, QString* error);
// Removes our entry; an entry of the user's own stays.
void remove(const QString& label);

}  // namespace AutostartEntry
