#include "app/uiyield.h"

#include <QCoreApplication>

namespace tq {

UiYield::UiYield(int sliceMs)
    : sliceMs_(sliceMs < 0 ? 0 : sliceMs)
{
    clock_.start();
    hook_.set(&UiYield::callback, this);
}

void UiYield::attach(YieldHook& hook, std::uint32_t interval)
{
    hook.set(&UiYield::callback, this, interval);
}

void UiYield::maybePump()
{
    if (clock_.elapsed() >= sliceMs_) {
        pumpNow();
    }
}

void UiYield::pumpNow()
{
    if (redraw_) {
        redraw_();
    }
    QCoreApplication::processEvents();
    ++pumps_;
    clock_.restart();
}

void UiYield::callback(void* context)
{
    static_cast<UiYield*>(context)->maybePump();
}

} // namespace tq
