#include "app/weblabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QUrl>

namespace tq {
namespace {

LinkOpener& linkOpener()
{
    static LinkOpener opener;
    return opener;
}

} // namespace

QString urlPrefix(TURLType type)
{
    switch (type) {
    case lnFile: return QStringLiteral("file://");
    case lnFtp: return QStringLiteral("ftp://");
    case lnGopher: return QStringLiteral("gopher://");
    case lnHttp: return QStringLiteral("http://");
    case lnHttps: return QStringLiteral("https://");
    case lnMailto: return QStringLiteral("mailto:");
    case lnNews: return QStringLiteral("news:");
    case lnTelnet: return QStringLiteral("telnet:");
    case lnWais: return QStringLiteral("wais:");
    }
    return QStringLiteral("http://");
}

void openLink(const QString& target)
{
    if (linkOpener()) {
        linkOpener()(target);
        return;
    }
    QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

LinkOpener setLinkOpener(LinkOpener opener)
{
    LinkOpener previous = std::move(linkOpener());
    linkOpener() = std::move(opener);
    return previous;
}

TWebLabel::TWebLabel(QWidget* parent)
    : QLabel(parent)
{
    QFont f = font();
    f.setPointSize(10);
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    setCursor(Qt::PointingHandCursor);
}

void TWebLabel::setHover(bool hover)
{
    hover_ = hover;
    setUnderline(!hover);
}

void TWebLabel::setUnderline(bool on)
{
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
}

QString TWebLabel::target() const
{
    if (Link.isEmpty()) {
        return urlPrefix(lnHttp) + QString::fromLatin1(kAuthorSite);
    }
    return urlPrefix(LinkTyp) + Link;
}

void TWebLabel::Click()
{
    if (Link.isEmpty()) {
        Link = QString::fromLatin1(kAuthorSite);
        openLink(urlPrefix(lnHttp) + Link);
        return;
    }
    openLink(target());
}

void TWebLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Click();
    }
}

void TWebLabel::enterEvent(QEnterEvent* event)
{
    QLabel::enterEvent(event);
    if (hover_) {
        setUnderline(true);
    }
}

void TWebLabel::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (hover_) {
        setUnderline(false);
    }
}

} // namespace tq
