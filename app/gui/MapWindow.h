// The "Map" window: the map of the title set of the dialog's VOB, before a run as a plan with the
// dialog's options would do it (read once, changing nothing), after a run as that run did it:
// each band before and after. A window of its own, so that the dialog keeps its layout; the
// pictures are the SVG that check --html and plan --html inline, drawn by Qt SVG.
#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <vector>

#include "engine/map/DiscMap.h"

namespace dorvex::gui {

class CMapWindow : public QWidget {
    Q_OBJECT

  public:
    explicit CMapWindow(QWidget* parent = nullptr);

    // Shows these title sets, `what` saying whose map it is ("before a run", "after the run").
    void ShowMaps(std::vector<map::TitleSetMap> maps, const QString& what);
    const std::vector<map::TitleSetMap>& Maps() const { return m_Maps; }

  private:
    std::vector<map::TitleSetMap> m_Maps;
    QLabel* m_Heading = nullptr;
    QVBoxLayout* m_Pictures = nullptr;
};

}  // namespace dorvex::gui
