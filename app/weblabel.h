// TWebLabel: a label that opens a link when clicked.
//
// A click joins the prefix of LinkTyp and Link (an empty Link first becomes the
// author's site with "http://") and asks the desktop to open the result; the
// prefix is always added, whatever Link holds. Hover underlines the label only
// while the mouse is over it. Links go through openLink(), which tests replace.
#pragma once

#include <QLabel>
#include <QString>

#include <functional>

namespace tq {

enum TURLType { lnFile, lnFtp, lnGopher, lnHttp, lnHttps, lnMailto, lnNews, lnTelnet, lnWais };

// The scheme prefix of a link type ("http://", "mailto:", ...).
QString urlPrefix(TURLType type);

// The web address behind an empty Link (without its scheme).
inline constexpr const char* kAuthorSite = "tarnquill.sourceforge.io";

class TWebLabel : public QLabel {
    Q_OBJECT
public:
    explicit TWebLabel(QWidget* parent = nullptr);

    QString Link;
    TURLType LinkTyp = lnHttp;

    bool Hover() const { return hover_; }
    void setHover(bool hover);

    // The click: builds the target and opens it.
    void Click();
    // The target a click opens now.
    QString target() const;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setUnderline(bool on);
    bool hover_ = false;
};

// Opens a link with the desktop (QDesktopServices); failures are not reported.
using LinkOpener = std::function<void(const QString& target)>;
void openLink(const QString& target);
// Installs an opener (an empty function restores the desktop's) and returns the
// previous one.
LinkOpener setLinkOpener(LinkOpener opener);

} // namespace tq
