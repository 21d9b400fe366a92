// A repeating timer that rests while its ticks find nothing to do.
//
// start() and stop() say whether the timer is on, as for a QTimer, and isActive()
// reports that. While on, the owner calls rest() from a tick that changed nothing:
// the timer then stops waking the program until wake() is called by an event that
// may give the next tick work (a text, caret or selection change, a list change,
// the start of a progress bar). wake() on a timer that is off does nothing, so
// whoever stopped it keeps it stopped. A woken timer ticks one interval after the
// wake, as it would have ticked while running.
#pragma once

#include <QObject>
#include <QTimer>

class RestingTimer : public QObject {
    Q_OBJECT
public:
    RestingTimer(const QString& name, int intervalMs, QObject* parent);

    void start();
    void stop();
    // On: started and not stopped since (resting or ticking).
    bool isActive() const { return on_; }
    // Ticking: on and not resting.
    bool isTicking() const { return ticker_.isActive(); }
    int interval() const { return ticker_.interval(); }

    void rest();
    void wake();

signals:
    void timeout();

private:
    QTimer ticker_;
    bool on_ = false;
};
