#include "logic/RowMark.h"

#include "logic/RowText.h"

namespace tarvo::logic {

namespace {

DutyMark typed(bool duty, Pending pending)
{
    return DutyMark{duty, pending, {}};
}

} // namespace

DutyMark transition(Move move, bool duty, Pending pending)
{
    switch (move) {
    case Move::Add:
        switch (pending) {
        case Pending::None:
            return typed(duty, Pending::New);
        case Pending::Deleted:
            // The removal is undone: nothing to write.
            return typed(duty, Pending::None);
        case Pending::Updated:
        case Pending::DeletedUpdated:
            // The pending fee update returns.
            return typed(duty, Pending::Updated);
        case Pending::New:
        case Pending::Unknown:
            return {};
        }
        break;
    case Move::Remove:
        switch (pending) {
        case Pending::None:
            return typed(duty, Pending::Deleted);
        case Pending::New:
            // Never stored: nothing to write.
            return typed(duty, Pending::None);
        case Pending::Updated:
        case Pending::DeletedUpdated:
            return typed(duty, Pending::DeletedUpdated);
        case Pending::Deleted:
        case Pending::Unknown:
            return {};
        }
        break;
    case Move::FeeUpdate:
        return typed(duty, pending == Pending::None ? Pending::Updated : pending);
    }
    return {};
}

DutyMark transition(Move move, const DutyMark &source)
{
    if (source.duty) {
        return transition(move, *source.duty, source.pending);
    }
    if (source.text.empty()) {
        return {};
    }
    return dutyMarkFromText(transitionText(move, source.text));
}

bool isUnmarked(const DutyMark &column)
{
    if (column.duty) {
        return column.pending == Pending::None;
    }
    return isUnmarkedText(column.text);
}

Pending pendingOf(const DutyMark &column)
{
    return column.duty ? column.pending : pendingOfText(column.text);
}

} // namespace tarvo::logic
