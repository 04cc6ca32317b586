#pragma once
// Where the program takes the time from. Production code asks Clock::current();
// tests install a ManualClock and move it by hand instead of sleeping.

#include <QDateTime>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds since the epoch: for intervals and time-outs, where the time
    // zone plays no part (a local time costs a look at the zone file).
    virtual qint64 epochMs() const { return now().toMSecsSinceEpoch(); }

    QDate today() const { return now().date(); }
    // Seconds since local midnight, with the fraction.
    double timer() const;

    static Clock& current();
    // Installs a clock owned by the caller; nullptr goes back to the system clock.
    static void install(Clock* clock);
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 epochMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
};

class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start) : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};
