// The window's pictures, drawn in code so they stay sharp at any scaling:
// navigation buttons, tabs, drive bays, the log button, small buttons and the
// logo. Every picture is the program's own.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

namespace raid::art {

enum class Glyph { Status, Setup, Upgrade, Mail, About, None };

// 169 × 44 navigation picture, selected (yellow) or not (white).
QPixmap NavPicture(const QString& label, Glyph glyph, bool selected, qreal dpr);
// Tab picture of a slot or sub-page, w × h.
QPixmap TabPicture(const QString& label, bool selected, int w, int h, qreal dpr);
// What a drive bay picture shows: its light and whether a disk is in it.
enum class DriveLook {
  Unknown,     // nothing known yet, or the last state is stale: grey light
  Present,     // a member of the array: green light
  Failed,      // failed (too small): red light and a red cross
  Absent,      // no drive: an empty bay
  Inserted,    // just inserted, not yet a member: amber light
  Rebuilding,  // being rebuilt or scanned: amber light and arrows
};
// A drive bay with a disk in it, showing the drive's state.
QPixmap DrivePicture(int w, int h, qreal dpr, DriveLook look = DriveLook::Present);
// The log button: a page with lines.
QPixmap LogPicture(int w, int h, qreal dpr);
// A plain action button picture (Load, Upgrade, OK, ...).
QPixmap ButtonPicture(const QString& label, int w, int h, qreal dpr);
// The program's logo: two disks and the name.
QPixmap LogoPicture(int w, int h, qreal dpr);
QPixmap ThermometerPicture(int w, int h, qreal dpr);
// A clock face for a schedule period: the sweep of the minute hand for
// periods under an hour, of the hour hand from an hour on.
QPixmap ClockPicture(int minutes, int size, qreal dpr);
// The window and application icon: the logo's two disks alone.
QPixmap IconPicture(int size);
// The same icon as a Windows icon file (.ico): one PNG image per size
// (16 to 256 pixels), for the programs' Windows resources.
QByteArray IconFile();

}  // namespace raid::art
