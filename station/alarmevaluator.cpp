#include "alarmevaluator.h"

#include <algorithm>
#include <cmath>

namespace tamlo::station {

namespace {

int severity(AlarmKind kind) {
    return kind == AlarmKind::HighHigh || kind == AlarmKind::LowLow ? 2 : 1;
}

bool highSide(AlarmKind kind) {
    return kind == AlarmKind::High || kind == AlarmKind::HighHigh;
}

AlarmEvent makeEvent(int device, std::uint8_t address, std::uint8_t channel, const QByteArray& tag,
                     const QString& unit, AlarmEventType type, AlarmKind kind, double value,
                     double limit, qint64 nowMs) {
    AlarmEvent e;
    e.time = QDateTime::fromMSecsSinceEpoch(nowMs);
    e.device = device;
    e.address = address;
    e.channel = channel;
    e.tag = tag;
    e.unit = unit;
    e.type = type;
    e.kind = kind;
    e.value = kind == AlarmKind::Link ? kNoLimit : value;
    e.limit = kind == AlarmKind::Link ? kNoLimit : limit;
    return e;
}

}  // namespace

double AlarmEvaluator::limitOf(const AlarmLimits& limits, AlarmKind kind) {
    switch (kind) {
        case AlarmKind::High:
            return limits.high;
        case AlarmKind::HighHigh:
            return limits.highHigh;
        case AlarmKind::Low:
            return limits.low;
        case AlarmKind::LowLow:
            return limits.lowLow;
        case AlarmKind::Link:
            break;
    }
    return kNoLimit;
}

void AlarmEvaluator::configure(const AlarmSettings& settings, const DeviceTable& active,
                               qint64 nowMs, Events& events) {
    std::array<Meter, kDeviceSlots> old = std::move(meters_);
    const std::array<int, kDeviceSlots> from = sameMeters(table_, active);
    std::array<bool, kDeviceSlots> taken{};
    const int oldCount = table_.count;
    table_ = active;
    table_.count = std::clamp(active.count, 0, kMaxDevices);
    count_ = table_.count;
    for (int i = 0; i < count_; ++i) {
        const DeviceEntry& entry = active.entries[static_cast<std::size_t>(i)];
        Meter meter;
        if (const int j = from[static_cast<std::size_t>(i)]; j >= 0) {
            taken[static_cast<std::size_t>(j)] = true;
            meter = std::move(old[static_cast<std::size_t>(j)]);
        }
        meter.address = entry.address;
        meter.channel = entry.channel;
        meter.tag = entry.tagBytes();
        meter.unit = entry.unitName();
        const AlarmLimits* limits = settings.find(entry.address, entry.channel);
        meter.judged = limits != nullptr;
        meter.limits = limits != nullptr ? *limits : AlarmLimits{};
        meters_[static_cast<std::size_t>(i)] = std::move(meter);
        Meter& m = meters_[static_cast<std::size_t>(i)];
        // An alarm whose limit (or whose meter's section) is gone clears; one whose limit moved
        // stays raised and is judged by the new limit from now on.
        if (m.limitAlarm.on) {
            const double limit = m.judged ? limitOf(m.limits, m.limitAlarm.kind) : kNoLimit;
            if (std::isnan(limit)) {
                end(i, m, m.limitAlarm, AlarmEventType::Clear, nowMs, events);
            } else {
                m.limitAlarm.limit = limit;
            }
        }
        if (m.linkAlarm.on && !(m.judged && m.limits.link)) {
            end(i, m, m.linkAlarm, AlarmEventType::Clear, nowMs, events);
        }
        m.since.fill(-1);
        if (m.judged && !m.linkLost && !std::isnan(m.value)) {
            judge(i, nowMs, events);
        }
    }
    for (int j = 0; j < oldCount; ++j) {
        Meter& was = old[static_cast<std::size_t>(j)];
        if (!taken[static_cast<std::size_t>(j)]) {
            end(j, was, was.limitAlarm, AlarmEventType::Clear, nowMs, events);
            end(j, was, was.linkAlarm, AlarmEventType::Clear, nowMs, events);
        }
    }
}

void AlarmEvaluator::answered(int device, double value, qint64 nowMs, Events& events) {
    if (device < 0 || device >= count_) {
        return;
    }
    Meter& m = meters_[static_cast<std::size_t>(device)];
    m.value = value;
    if (m.linkLost) {
        m.linkLost = false;
        end(device, m, m.linkAlarm, AlarmEventType::Clear, nowMs, events);
    }
    judge(device, nowMs, events);
}

void AlarmEvaluator::linkLost(int device, qint64 nowMs, Events& events) {
    if (device < 0 || device >= count_) {
        return;
    }
    Meter& m = meters_[static_cast<std::size_t>(device)];
    m.linkLost = true;
    m.since.fill(-1);
    // Stale values are not judged: the limit alarm gives way to the link alarm.
    end(device, m, m.limitAlarm, AlarmEventType::Clear, nowMs, events);
    if (m.judged && m.limits.link && !m.linkAlarm.on) {
        raise(device, m.linkAlarm, AlarmKind::Link, kNoLimit, kNoLimit, nowMs, events);
    }
}

void AlarmEvaluator::tick(qint64 nowMs, Events& events) {
    for (int i = 0; i < count_; ++i) {
        const Meter& m = meters_[static_cast<std::size_t>(i)];
        if (m.judged && !m.linkLost && !std::isnan(m.value)) {
            judge(i, nowMs, events);
        }
    }
}

// A limit condition holds while the value is beyond its limit; a raised one holds until the
// value is back inside by the deadband. A condition is raised once it has held `delay` seconds;
// a step back to a milder one of the same side (high_high to high) needs no delay, since the
// milder condition held all along.
void AlarmEvaluator::judge(int device, qint64 nowMs, Events& events) {
    Meter& m = meters_[static_cast<std::size_t>(device)];
    if (!m.judged || m.linkLost || std::isnan(m.value)) {
        return;
    }
    const double v = m.value;
    const AlarmLimits& l = m.limits;
    const bool on = m.limitAlarm.on;
    const AlarmKind current = m.limitAlarm.kind;
    const bool highRaised = on && highSide(current);
    const bool lowRaised = on && !highSide(current);
    std::array<bool, 4> holds{};
    holds[static_cast<std::size_t>(AlarmKind::High)] =
        v > l.high || (highRaised && v > l.high - l.deadband);
    holds[static_cast<std::size_t>(AlarmKind::HighHigh)] =
        v > l.highHigh || (on && current == AlarmKind::HighHigh && v > l.highHigh - l.deadband);
    holds[static_cast<std::size_t>(AlarmKind::Low)] =
        v < l.low || (lowRaised && v < l.low + l.deadband);
    holds[static_cast<std::size_t>(AlarmKind::LowLow)] =
        v < l.lowLow || (on && current == AlarmKind::LowLow && v < l.lowLow + l.deadband);
    for (int k = 0; k < 4; ++k) {
        qint64& since = m.since[static_cast<std::size_t>(k)];
        since = holds[static_cast<std::size_t>(k)] ? (since < 0 ? nowMs : since) : -1;
    }
    const qint64 delayMs = static_cast<qint64>(l.delaySeconds) * 1000;
    auto eligible = [&](AlarmKind k) {
        const auto i = static_cast<std::size_t>(k);
        if (!holds[i]) {
            return false;
        }
        if (on && (k == current ||
                   (highSide(k) == highSide(current) && severity(k) < severity(current)))) {
            return true;
        }
        return nowMs - m.since[i] >= delayMs;
    };
    bool found = false;
    AlarmKind wanted = AlarmKind::High;
    for (const AlarmKind k :
         {AlarmKind::HighHigh, AlarmKind::LowLow, AlarmKind::High, AlarmKind::Low}) {
        if (eligible(k)) {
            // Of two equally severe ones (limits overlapping by the deadband) the raised one stays.
            if (!found || (on && k == current && severity(k) == severity(wanted))) {
                wanted = k;
                found = true;
            }
        }
    }
    if (found && on && wanted == current) {
        return;
    }
    if (!found && !on) {
        return;
    }
    if (on) {
        end(device, m, m.limitAlarm, AlarmEventType::Clear, nowMs, events);
    }
    if (found) {
        raise(device, m.limitAlarm, wanted, v, limitOf(l, wanted), nowMs, events);
    }
}

void AlarmEvaluator::raise(int device, Raised& alarm, AlarmKind kind, double value, double limit,
                           qint64 nowMs, Events& events) {
    const Meter& m = meters_[static_cast<std::size_t>(device)];
    alarm.on = true;
    alarm.acknowledged = false;
    alarm.kind = kind;
    alarm.raisedMs = nowMs;
    alarm.order = nextOrder_++;
    alarm.value = value;
    alarm.limit = limit;
    events.push_back(makeEvent(device, m.address, m.channel, m.tag, m.unit, AlarmEventType::Raise,
                               kind, value, limit, nowMs));
}

void AlarmEvaluator::end(int device, const Meter& meter, Raised& alarm, AlarmEventType type,
                         qint64 nowMs, Events& events) {
    if (!alarm.on) {
        return;
    }
    if (type == AlarmEventType::Clear) {
        alarm.on = false;
    } else {
        alarm.acknowledged = true;
    }
    events.push_back(makeEvent(device, meter.address, meter.channel, meter.tag, meter.unit, type,
                               alarm.kind, meter.value, alarm.limit, nowMs));
}

bool AlarmEvaluator::acknowledge(int device, AlarmKind kind, qint64 nowMs, Events& events) {
    if (device < 0 || device >= count_) {
        return false;
    }
    Meter& m = meters_[static_cast<std::size_t>(device)];
    Raised& alarm = kind == AlarmKind::Link ? m.linkAlarm : m.limitAlarm;
    if (!alarm.on || alarm.acknowledged || alarm.kind != kind) {
        return false;
    }
    end(device, m, alarm, AlarmEventType::Ack, nowMs, events);
    return true;
}

void AlarmEvaluator::acknowledgeAll(qint64 nowMs, Events& events) {
    for (const ActiveAlarm& a : activeAlarms()) {
        acknowledge(a.device, a.kind, nowMs, events);
    }
}

QList<ActiveAlarm> AlarmEvaluator::activeAlarms() const {
    std::vector<std::pair<std::uint64_t, ActiveAlarm>> list;
    for (int i = 0; i < count_; ++i) {
        const Meter& m = meters_[static_cast<std::size_t>(i)];
        for (const Raised* r : {&m.limitAlarm, &m.linkAlarm}) {
            if (r->on) {
                ActiveAlarm a;
                a.device = i;
                a.kind = r->kind;
                a.raised = QDateTime::fromMSecsSinceEpoch(r->raisedMs);
                a.value = r->value;
                a.limit = r->limit;
                a.acknowledged = r->acknowledged;
                list.emplace_back(r->order, a);
            }
        }
    }
    std::sort(list.begin(), list.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<ActiveAlarm> out;
    out.reserve(static_cast<qsizetype>(list.size()));
    for (const auto& entry : list) {
        out << entry.second;
    }
    return out;
}

int AlarmEvaluator::unacknowledged() const {
    int n = 0;
    for (int i = 0; i < count_; ++i) {
        const Meter& m = meters_[static_cast<std::size_t>(i)];
        n += (m.limitAlarm.on && !m.limitAlarm.acknowledged) +
             (m.linkAlarm.on && !m.linkAlarm.acknowledged);
    }
    return n;
}

AlarmShade AlarmEvaluator::shade(int device) const {
    if (device < 0 || device >= count_) {
        return AlarmShade::None;
    }
    const Meter& m = meters_[static_cast<std::size_t>(device)];
    if (m.linkAlarm.on && !m.linkAlarm.acknowledged) {
        return AlarmShade::Background;
    }
    if (m.limitAlarm.on && !m.limitAlarm.acknowledged) {
        return severity(m.limitAlarm.kind) == 2 ? AlarmShade::Background : AlarmShade::Text;
    }
    return AlarmShade::None;
}

}  // namespace tamlo::station
