#include "internet_object.h"

#include <curl/curl.h>

#include <algorithm>

#include "internet.h"

VInternetObject::VInternetObject(Kind k, VInternetObject* parent) : kind(k), parent_(parent) {
    if (parent_ != nullptr) parent_->Retain();
}

VInternetObject::~VInternetObject() = default;

void VInternetObject::Link() {
    if (parent_ == nullptr) return;
    std::lock_guard lock(parent_->childMutex_);
    parent_->children_.push_back(this);
}

void VInternetObject::Release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    VInternetObject* parent = parent_;
    if (parent != nullptr) {
        // Unlink before freeing: a close walking the parent's list holds this lock,
        // so it either sees the object whole or not at all.
        std::lock_guard lock(parent->childMutex_);
        auto& list = parent->children_;
        auto it = std::find(list.begin(), list.end(), this);
        if (it != list.end()) list.erase(it);
    }
    delete this;
    if (parent != nullptr) parent->Release();
}

void VInternetObject::Close() {
    closed_.store(true, std::memory_order_release);
    WakeTree();
}

void VInternetObject::WakeTree() {
    WakeSelf();
    std::lock_guard lock(childMutex_);
    for (VInternetObject* child : children_) child->WakeTree();
}

namespace brindlex::net {

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void InternetCloseHandle(VHINTERNET handle) {
    if (handle == nullptr) return;
    handle->Close();
    handle->Release();
}

void InternetRetain(VHINTERNET handle) {
    if (handle != nullptr) handle->Retain();
}

void InternetRelease(VHINTERNET handle) {
    if (handle != nullptr) handle->Release();
}

}  // namespace brindlex::net
