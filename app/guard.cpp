#include "app/guard.h"

#include "app/seams.h"

#include <new>
#include <stdexcept>

namespace tq {
namespace {

std::function<void()>& recoveryHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

void setGuardRecovery(std::function<void()> recovery)
{
    recoveryHook() = std::move(recovery);
}

QString describeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Not enough memory to complete the command.");
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what());
        return text.isEmpty() ? QStringLiteral("The command failed.") : text;
    } catch (...) {
        return QStringLiteral("The command failed with an unknown error.");
    }
}

void reportCommandFailure(QWidget* parent, const QString& message)
{
    // Recovery and the message box may throw themselves (a broken window state,
    // no memory for the box); nothing may escape into the event loop.
    try {
        if (recoveryHook()) {
            recoveryHook()();
        }
    } catch (...) {
    }
    try {
        prompts::showError(parent, QStringLiteral("Tarnquill"), message);
    } catch (...) {
    }
}

} // namespace tq
