#pragma once
// Time as the run loop sees it, in seconds. The real clock is monotonic; the
// manual clock moves only when a test or the headless shell advances it.
namespace kit {

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    virtual bool isManual() const { return false; }
};

class RealClock final : public Clock {
public:
    double now() const override;
};

class ManualClock final : public Clock {
public:
    double now() const override { return m_now; }
    bool isManual() const override { return true; }
    void set(double t) { m_now = t; }

private:
    double m_now { 0 };
};

} // namespace kit
