// The game controllers' list.
#include "controllers.h"

#include <string.h>

namespace {

// Whether the buttons or the hat moved: an axis of a wheel or pedals signals too.
bool Read(Preview *p)
{
    Sample sample;
    if (!p->device.device.p || ReadLever(&p->device, &sample) != LEVER_READ ||
        memcmp(&sample, &p->sample, sizeof sample) == 0)
        return false;
    p->sample = sample;
    return true;
}

}  // namespace

void ListControllersAgain(Controllers *c, HWND window)
{
    c->list.clear();
    for (const Controller &found : ListControllers(c->input)) {
        auto p = std::make_unique<Preview>();
        p->info = found;
        p->sample = Released();
        if (OpenLever(c->input, ToGuid(found.instance), window, true, &p->device)) {
            p->info.inputs = p->device.inputs;
            Read(p.get());
        }
        c->list.push_back(std::move(p));
    }
}

std::vector<Controller> Attached(const Controllers &c)
{
    std::vector<Controller> list;
    for (const auto &p : c.list)
        list.push_back(p->info);
    return list;
}

std::vector<ControllerRow> ControllerRows(const Controllers &c, const InstanceId *lever)
{
    std::vector<ControllerRow> rows;
    for (const auto &p : c.list)
        rows.push_back({p->info.name, HeldText(p->sample, p->info.inputs), lever && p->info.instance == *lever});
    return rows;
}

void SetControllersLive(Controllers *c, bool live)
{
    if (live && !c->live)
        for (const auto &p : c->list)
            Read(p.get());
    c->live = live;
}

int ControllerHandles(const Controllers &c, HANDLE *handles, int room)
{
    int count = 0;
    for (size_t i = 0; c.live && i < c.list.size() && count < room; i++)
        if (c.list[i]->device.event.h)
            handles[count++] = c.list[i]->device.event.h;
    return count;
}

bool ReadController(Controllers *c, int index)
{
    for (const auto &p : c->list)
        if (p->device.event.h && index-- == 0)
            return Read(p.get());
    return false;
}
