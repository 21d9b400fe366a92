#include "app/restingtimer.h"

RestingTimer::RestingTimer(const QString& name, int intervalMs, QObject* parent)
    : QObject(parent)
{
    setObjectName(name);
    ticker_.setInterval(intervalMs);
    connect(&ticker_, &QTimer::timeout, this, &RestingTimer::timeout);
}

void RestingTimer::start()
{
    on_ = true;
    ticker_.start();
}

void RestingTimer::stop()
{
    on_ = false;
    ticker_.stop();
}

void RestingTimer::rest()
{
    ticker_.stop();
}

void RestingTimer::wake()
{
    if (on_ && !ticker_.isActive()) {
        ticker_.start();
    }
}
