#pragma once
// What the device flow sees of the main window's device selection: the device list box, the
// device-identity text of the chosen entry, the stored device value pair and the auto-run event
// that hands a found device over to the worker thread. The main window implements it; the list
// operations fill and read it.
#include <cstdint>
#include <string>

class IDeviceListView {
public:
    virtual ~IDeviceListView() = default;

    // The auto-run event: cleared while the list is rebuilt, set once a device is ready.
    virtual void ResetAutoRunEvent() = 0;
    virtual void SetAutoRunEvent() = 0;

    // Empties the device list box.
    virtual void ClearDeviceList() = 0;
    // Appends an item and returns its position in the list box.
    virtual int AddDeviceListItem(const std::string& text) = 0;
    // Selects the item at the position; -1 leaves no item selected.
    virtual void SelectDeviceListItem(int position) = 0;
    // The text of the item at the position, empty when there is none.
    virtual std::string DeviceListItemText(int position) const = 0;

    // The identity text of the chosen device (the entry the operator picked).
    virtual std::string DeviceIdentityText() const = 0;
    virtual void SetDeviceIdentityText(const std::string& text) = 0;

    // The device value pair last stored through SetUIDeviceInfo.
    virtual void GetDeviceInfo(std::int32_t& port, std::int32_t& hub) const = 0;
};

// The main window's device selection while it is shown; null in command-line mode.
extern IDeviceListView* g_pDeviceListView;
