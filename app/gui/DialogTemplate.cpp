#include "app/gui/DialogTemplate.h"

#include <QFontMetrics>

namespace dorvex::gui {

DuRect ControlRect(int id) {
    switch (id) {
        case IdRemoveUnrefed:
            return {9, 22, 112, 10};
        case IdCleanup:
            return {7, 7, 50, 14};
        case IdProgress:
            return {7, 67, 176, 7};
        case IdPhaseLine:
            return {10, 81, 167, 14};
        case IdStatusLine:
            return {10, 92, 167, 12};
        case IdRestoreBackup:
            return {7, 55, 68, 9};
        case IdDeleteBackup:
            return {92, 55, 68, 9};
        case IdPause:
            return {61, 7, 50, 14};
        case IdInPlace:
            return {9, 40, 83, 10};
        case IdFullDvd:
            return {61, 7, 50, 14};
        case IdFixPgcLbas:
            return {9, 31, 105, 10};
        default:
            return {0, 0, 0, 0};
    }
}

QString ToolTipText(int id) {
    switch (id) {
        case IdRemoveUnrefed:
            return "Select to remove unreferenced vob cells and blank packs.If unchecked, blank "
                   "packs are replaced by suffing packs";
        case IdCleanup:
            return "Start cleaning the VOB file you dragged/dropped";
        case IdRestoreBackup:
            return "Restore backups";
        case IdDeleteBackup:
            return "Delete backup files in DorvexBackup";
        case IdInPlace:
            return "Process in-place, without backing up the VOB files.Usually much faster";
        case IdFullDvd:
            return "Process all the DVD VOBs for a full cleanup";
        case IdFixPgcLbas:
            return "Select to fix start/end sector pointers in PGC when they're clearly wrong: "
                   "Highly recommended";
        default:
            return QString();
    }
}

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    m_BaseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    m_BaseY = metrics.height();
}

QString AboutHelpFirstBlock() {
    return "Dorvex: removes unused cells and corrupted packs from VTS, and updates the IFO files.\n"
           "Drag/drop a VOB to start.\n"
           "Command line arguments:\n"
           "Dorvex [-c] [-u] [-s] [-i] [-f] [-v] [-l LogPath] Filename.vob\n"
           "-c to empty backup before process. \n";
}

QString AboutHelpSecondBlock() {
    return "-u to remove unreferenced VCIDs\n"
           "-s to start processing immediately.\n"
           "-i to process \"in place\"\n"
           "-f for full DVD processing\n"
           "-v to not renumber VobIDs\n"
           "-l LogPath to save log to LogPath";
}

}  // namespace dorvex::gui
