#include "app/gui/MapWindow.h"

#include <QScrollArea>
#include <QSvgRenderer>
#include <QSvgWidget>

#include "engine/map/MapSvg.h"

namespace dorvex::gui {

namespace {

constexpr int kMapWidth = 960;

}  // namespace

CMapWindow::CMapWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    auto* layout = new QVBoxLayout(this);
    m_Heading = new QLabel(this);
    layout->addWidget(m_Heading);
    auto* scroll = new QScrollArea(this);
    auto* pictures = new QWidget(scroll);
    m_Pictures = new QVBoxLayout(pictures);
    m_Pictures->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll->setWidget(pictures);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    resize(kMapWidth + 48, 480);
}

void CMapWindow::ShowMaps(std::vector<map::TitleSetMap> maps, const QString& what) {
    m_Maps = std::move(maps);
    while (QLayoutItem* item = m_Pictures->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QStringList names;
    for (const map::TitleSetMap& set : m_Maps) {
        names << QString::fromStdString(set.name);
        map::SvgOptions options;
        options.width = kMapWidth;
        auto* picture = new QSvgWidget(m_Pictures->parentWidget());
        picture->load(QByteArray::fromStdString(map::TitleSetSvg(set, options)));
        picture->setFixedSize(picture->renderer()->defaultSize());
        m_Pictures->addWidget(picture);
    }
    const QString title = "Map of " + (names.isEmpty() ? QString("nothing") : names.join(", "));
    setWindowTitle(title);
    m_Heading->setText(m_Maps.empty() ? title + ": no VOB stream was read" : title + ", " + what);
}

}  // namespace dorvex::gui
