// The orders and the reports.
#include "mailbox.h"

bool OpenMailbox(Mailbox *box, HWND window, UINT message, const Orders &first)
{
    InitializeCriticalSection(&box->lock);
    box->ordered.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    box->orders = first;
    box->window = window;
    box->message = message;
    return box->ordered.h != nullptr;
}

void PostOrders(Mailbox *box, const Orders &orders)
{
    EnterCriticalSection(&box->lock);
    box->orders = orders;
    LeaveCriticalSection(&box->lock);
    SetEvent(box->ordered.h);
}

Orders TakeOrders(Mailbox *box)
{
    EnterCriticalSection(&box->lock);
    Orders orders = box->orders;
    LeaveCriticalSection(&box->lock);
    return orders;
}

void PostReport(Mailbox *box, const Report &report)
{
    EnterCriticalSection(&box->lock);
    if (box->count == REPORTS) {
        box->dropped++;
        box->count--;
    }
    box->reports[(box->first + box->count++) % REPORTS] = report;
    bool tell = !box->told;
    box->told = true;
    LeaveCriticalSection(&box->lock);
    // A message that cannot be posted now is posted with the next report.
    if (tell && !PostMessageW(box->window, box->message, 0, 0)) {
        EnterCriticalSection(&box->lock);
        box->told = false;
        LeaveCriticalSection(&box->lock);
    }
}

bool TakeReport(Mailbox *box, Report *report, unsigned *dropped)
{
    EnterCriticalSection(&box->lock);
    bool any = box->count > 0;
    if (any) {
        *report = box->reports[box->first];
        box->first = (box->first + 1) % REPORTS;
        box->count--;
    } else {
        box->told = false;
    }
    *dropped = box->dropped;
    box->dropped = 0;
    LeaveCriticalSection(&box->lock);
    return any;
}
