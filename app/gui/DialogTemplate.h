// The main dialog's and the about box's templates: control ids, positions in dialog units,
// texts and tooltips, kept as the program's resource script had them.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

namespace dorvex::gui {

enum ControlId : int {
    IdRemoveUnrefed = 1000,
    IdCleanup = 1001,
    IdProgress = 1002,
    IdPhaseLine = 1003,
    IdStatusLine = 1004,
    IdRestoreBackup = 1005,
    IdDeleteBackup = 1006,
    IdPause = 1007,
    IdInPlace = 1008,
    IdFullDvd = 1009,
    IdFixPgcLbas = 1010,
};

// Template sizes and control rectangles, in dialog units (left, top, width, height).
inline constexpr int kDialogWidthDu = 190;
inline constexpr int kDialogHeightDu = 119;
inline constexpr int kAboutWidthDu = 237;
inline constexpr int kAboutHeightDu = 149;

struct DuRect {
    int x, y, w, h;
};

DuRect ControlRect(int id);
inline constexpr DuRect kBlackFrameDu = {7, 79, 176, 28};
inline constexpr DuRect kIconDu = {163, 7, 21, 20};

// Tooltip of a control; empty for controls without one.
QString ToolTipText(int id);

// Dialog units to pixels with the dialog font's average character width and height, as the
// Windows dialog manager converts them.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int X(int du) const { return (du * m_BaseX + 2) / 4; }
    int Y(int du) const { return (du * m_BaseY + 4) / 8; }
    QRect Rect(const DuRect& r) const { return QRect(X(r.x), Y(r.y), X(r.w), Y(r.h)); }

  private:
    int m_BaseX;
    int m_BaseY;
};

inline const char* const kHintCommandLine = "To start, press Cleanup";
inline const char* const kHintDragDrop = "To start, drag/drop a problematic VOB file";
inline const char* const kQuestionRestore =
    "This will restore your backup and undo the last procesing! Proceed?";
inline const char* const kQuestionDelete = "This will delete all backup files! Proceed?";
// After a restore's refusal that only the user can overrule: the files it replaces are then lost.
inline const char* const kQuestionRestoreAnyway =
    "\n\nRestore anyway? The files it replaces are then gone for good.";
inline const char* const kQuestionInPlace =
    "Warning: you're about to process in-place, without backing up\nthe VOB files. Dorvex will "
    "not damage the files, even if you abort, but you will not be\nable to recover their initial "
    "state. This is potentially much faster, however...\nDo you want to proceed?";
inline const char* const kQuestionAbortInPlace =
    "Warning: you're about to abort in-place processing. \nSome packs have already been removed "
    "or renumbered, but the IFO files have not\nbeen updated yet. This would leave the DVD in a "
    "very messy state, you should click No!.\nDo you still want to abort processing?";

// The about box's help text, two blocks of lines.
QString AboutHelpFirstBlock();
QString AboutHelpSecondBlock();

}  // namespace dorvex::gui
