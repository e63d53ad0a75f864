#pragma once
// Common base of the imaging components (unpacker, viewer, printer).

class TKivBaseComponent {
public:
    virtual ~TKivBaseComponent() = default;

    // True while the component is being set up from stored properties; the
    // error check stays silent then.
    bool Loading() const { return loading_; }
    void SetLoading(bool loading) { loading_ = loading; }

private:
    bool loading_ = false;
};
