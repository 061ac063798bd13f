// libcurl is opened on the first call into it, not with the program: it and
// the nineteen libraries it brings (TLS twice over, Kerberos, LDAP, SSH...)
// were a good part of the window's start, and nothing before the first
// frame fetches or parses an address through it. These are the calls kit
// makes, with libcurl's own names and types, each handing on to the
// library's once it is open. Should the library be missing, each answers
// as libcurl does for a handle it cannot make (and says why once).
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include "kit/core/Log.h"

#include <cstdarg>
#include <dlfcn.h>
#include <iostream>
#include <mutex>
#include <string>

namespace {

struct Library {
#define KIT_CURL_CALL(name) decltype(&::name) name = nullptr;
    KIT_CURL_CALL(curl_global_init)
    KIT_CURL_CALL(curl_free)
    KIT_CURL_CALL(curl_easy_init)
    KIT_CURL_CALL(curl_easy_setopt)
    KIT_CURL_CALL(curl_easy_getinfo)
    KIT_CURL_CALL(curl_easy_perform)
    KIT_CURL_CALL(curl_easy_cleanup)
    KIT_CURL_CALL(curl_multi_init)
    KIT_CURL_CALL(curl_multi_setopt)
    KIT_CURL_CALL(curl_multi_add_handle)
    KIT_CURL_CALL(curl_multi_remove_handle)
    KIT_CURL_CALL(curl_multi_socket_action)
    KIT_CURL_CALL(curl_multi_info_read)
    KIT_CURL_CALL(curl_multi_cleanup)
    KIT_CURL_CALL(curl_slist_append)
    KIT_CURL_CALL(curl_slist_free_all)
    KIT_CURL_CALL(curl_url)
    KIT_CURL_CALL(curl_url_set)
    KIT_CURL_CALL(curl_url_get)
    KIT_CURL_CALL(curl_url_cleanup)
#undef KIT_CURL_CALL
    bool open = false;
};

// Opened once, whichever thread asks first; every call is bound now, so a
// library that lacks one fails here as a whole rather than halfway in use.
const Library& library()
{
    static Library lib;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* file = "libcurl.so.4";
        void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
        std::string problem;
        if (!handle) {
            const char* why = ::dlerror();
            problem = std::string("cannot open ") + file + ": " + (why ? why : "unknown reason");
        } else {
            Library found;
            auto bind = [&](auto& call, const char* name) {
                call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(::dlsym(handle, name));
                if (!call && problem.empty())
                    problem = std::string(file) + " has no " + name;
            };
#define KIT_CURL_BIND(name) bind(found.name, #name);
            KIT_CURL_BIND(curl_global_init)
            KIT_CURL_BIND(curl_free)
            KIT_CURL_BIND(curl_easy_init)
            KIT_CURL_BIND(curl_easy_setopt)
            KIT_CURL_BIND(curl_easy_getinfo)
            KIT_CURL_BIND(curl_easy_perform)
            KIT_CURL_BIND(curl_easy_cleanup)
            KIT_CURL_BIND(curl_multi_init)
            KIT_CURL_BIND(curl_multi_setopt)
            KIT_CURL_BIND(curl_multi_add_handle)
            KIT_CURL_BIND(curl_multi_remove_handle)
            KIT_CURL_BIND(curl_multi_socket_action)
            KIT_CURL_BIND(curl_multi_info_read)
            KIT_CURL_BIND(curl_multi_cleanup)
            KIT_CURL_BIND(curl_slist_append)
            KIT_CURL_BIND(curl_slist_free_all)
            KIT_CURL_BIND(curl_url)
            KIT_CURL_BIND(curl_url_set)
            KIT_CURL_BIND(curl_url_get)
            KIT_CURL_BIND(curl_url_cleanup)
#undef KIT_CURL_BIND
            if (problem.empty()) {
                found.open = true;
                lib = found;
            }
        }
        if (!problem.empty()) {
            problem = "no HTTP and no address parsing: " + problem;
            kit::log(problem);
            std::cerr << "quorvane: " << problem << std::endl;
        }
    });
    return lib;
}

// An option's argument is of the type its number says (libcurl reads it the same way).
template <class Handle, class Option, class Code>
Code setOption(Code (*call)(Handle*, Option, ...), Handle* handle, Option option, va_list args)
{
    const long kind = long(option) / 10000 * 10000;
    if (kind == CURLOPTTYPE_LONG)
        return call(handle, option, va_arg(args, long));
    if (kind == CURLOPTTYPE_FUNCTIONPOINT)
        return call(handle, option, va_arg(args, void (*)()));
    if (kind == CURLOPTTYPE_OFF_T)
        return call(handle, option, va_arg(args, curl_off_t));
    return call(handle, option, va_arg(args, void*));
}

} // namespace

extern "C" {

CURLcode curl_global_init(long flags)
{
    auto& lib = library();
    return lib.open ? lib.curl_global_init(flags) : CURLE_FAILED_INIT;
}

void curl_free(void* p)
{
    // Only the library hands out what this frees.
    if (auto& lib = library(); p && lib.open)
        lib.curl_free(p);
}

CURL* curl_easy_init()
{
    auto& lib = library();
    return lib.open ? lib.curl_easy_init() : nullptr;
}

CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...)
{
    auto& lib = library();
    if (!lib.open || !curl)
        return CURLE_BAD_FUNCTION_ARGUMENT;
    va_list args;
    va_start(args, option);
    CURLcode code = setOption(lib.curl_easy_setopt, curl, option, args);
    va_end(args);
    return code;
}

CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...)
{
    auto& lib = library();
    if (!lib.open || !curl)
        return CURLE_BAD_FUNCTION_ARGUMENT;
    // Every answer is written through one pointer.
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);
    va_end(args);
    return lib.curl_easy_getinfo(curl, info, out);
}

CURLcode curl_easy_perform(CURL* curl)
{
    auto& lib = library();
    return lib.open && curl ? lib.curl_easy_perform(curl) : CURLE_BAD_FUNCTION_ARGUMENT;
}

void curl_easy_cleanup(CURL* curl)
{
    if (curl)
        library().curl_easy_cleanup(curl);
}

CURLM* curl_multi_init()
{
    auto& lib = library();
    return lib.open ? lib.curl_multi_init() : nullptr;
}

CURLMcode curl_multi_setopt(CURLM* multi, CURLMoption option, ...)
{
    auto& lib = library();
    if (!lib.open || !multi)
        return CURLM_BAD_HANDLE;
    va_list args;
    va_start(args, option);
    CURLMcode code = setOption(lib.curl_multi_setopt, multi, option, args);
    va_end(args);
    return code;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* curl)
{
    auto& lib = library();
    return lib.open && multi ? lib.curl_multi_add_handle(multi, curl) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* curl)
{
    auto& lib = library();
    return lib.open && multi ? lib.curl_multi_remove_handle(multi, curl) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_socket_action(CURLM* multi, curl_socket_t socket, int mask, int* running)
{
    auto& lib = library();
    return lib.open && multi ? lib.curl_multi_socket_action(multi, socket, mask, running) : CURLM_BAD_HANDLE;
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* left)
{
    auto& lib = library();
    if (lib.open && multi)
        return lib.curl_multi_info_read(multi, left);
    if (left)
        *left = 0;
    return nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi)
{
    auto& lib = library();
    return lib.open && multi ? lib.curl_multi_cleanup(multi) : CURLM_BAD_HANDLE;
}

curl_slist* curl_slist_append(curl_slist* list, const char* text)
{
    auto& lib = library();
    return lib.open ? lib.curl_slist_append(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list)
{
    if (list)
        library().curl_slist_free_all(list);
}

CURLU* curl_url()
{
    auto& lib = library();
    return lib.open ? lib.curl_url() : nullptr;
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* content, unsigned int flags)
{
    auto& lib = library();
    return lib.open && url ? lib.curl_url_set(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** content, unsigned int flags)
{
    auto& lib = library();
    if (content)
        *content = nullptr;
    return lib.open && url ? lib.curl_url_get(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

void curl_url_cleanup(CURLU* url)
{
    if (url)
        library().curl_url_cleanup(url);
}

} // extern "C"
