/* Vtable positions of the generated interface header, gathered in C (its vtable structures are C only). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct InterfaceSlot {
    const char* method; /* "IApplication.get_Connection" */
    int slot;
};
extern const struct InterfaceSlot kInterfaceSlots[];
extern const int kInterfaceSlotCount;

#ifdef __cplusplus
}
#endif
