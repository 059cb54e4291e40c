/* Vtable positions of the generated QuodrixLib.h, read from its C vtable structures. */
#include <windows.h>
#include <stddef.h>

#include "QuodrixLib.h"

#include "tests/velo/InterfaceSlots.h"

#define SLOT(I, m) {#I "." #m, (int)(offsetof(I##Vtbl, m) / sizeof(void*))}

const struct InterfaceSlot kInterfaceSlots[] = {
    SLOT(IApplication, get_Connection), SLOT(IApplication, get_Groups), SLOT(IApplication, get_Active),
    SLOT(IApplication, put_Active),
    SLOT(IConnection, Init), SLOT(IConnection, get_Connected), SLOT(IConnection, put_Mode),
    SLOT(IGroups, get_Count), SLOT(IGroups, get_List), SLOT(IGroups, get_Item), SLOT(IGroups, Add),
    SLOT(IWindows, get_Count), SLOT(IWindows, get_List), SLOT(IWindows, get_Item), SLOT(IWindows, Add),
    SLOT(IGroup, get_Windows), SLOT(IGroup, Activate),
    SLOT(IWindow, get_Kind),
    SLOT(IVistaWindow, Pilot), SLOT(IFullQuoteWindow, Pilot), SLOT(IOrderBookWindow, Pilot),
    SLOT(ITimeSalesWindow, Pilot), SLOT(INewsWindow, Pilot), SLOT(IChartWindow, Pilot),
    SLOT(ITFrameWndEvents, FrameActivated), SLOT(ITFrameWndEvents, FrameClosing),
    SLOT(ITFrameWndEvents, WindowPiloted),
};
const int kInterfaceSlotCount = sizeof kInterfaceSlots / sizeof kInterfaceSlots[0];
