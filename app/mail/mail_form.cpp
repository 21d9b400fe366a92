#include "app/mail/mail_form.h"

#include "app/guard.h"
#include "app/mail/password_store.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace tq::mailform {
namespace {

class LeaveFilter : public QObject {
public:
    LeaveFilter(QLineEdit* field, std::function<void()> handler)
        : QObject(field)
        , handler_(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusOut) {
            auto* window = static_cast<QWidget*>(watched)->window();
            runGuarded(window, handler_);
        }
        return false;
    }

private:
    std::function<void()> handler_;
};

} // namespace

QLineEdit* addField(QWidget* panel, const char* name, const QString& caption, const QString& hint, int y,
                    int fieldWidth, QLabel** label)
{
    auto* text = new QLabel(caption, panel);
    text->setGeometry(kLabelX, y, kFieldX - kLabelX - 4, kFieldHeight);
    auto* field = new QLineEdit(panel);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(kFieldX, y, fieldWidth, kFieldHeight);
    field->setToolTip(hint);
    text->setBuddy(field);
    if (label != nullptr) {
        *label = text;
    }
    return field;
}

void onLeave(QLineEdit* field, std::function<void()> handler)
{
    field->installEventFilter(new LeaveFilter(field, std::move(handler)));
}

void settlePassword(TPasswordStore& store, QLineEdit* field)
{
    const QString password = store.settle(field->text());
    if (password != field->text()) {
        field->setText(password);
    }
}

void loadOnActivation(QStatusBar* status, const std::function<void()>& load)
{
    try {
        load();
    } catch (const EKeyringError& e) {
        status->showMessage(QString::fromUtf8(e.what()));
    }
}

void run(QWidget* window, const std::function<void()>& command, const std::function<void()>& restore,
         const std::function<bool()>& quiet, const std::function<void(const QString& error)>& failed)
{
    runGuarded(window, [&] {
        try {
            command();
        } catch (...) {
            if (failed) {
                failed(describeException(std::current_exception()));
            }
            restore();
            if (quiet()) {
                return;
            }
            throw;
        }
        restore();
    });
}

} // namespace tq::mailform
