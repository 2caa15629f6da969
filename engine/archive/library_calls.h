#pragma once
// The libraries that read archives (libarchive) and installers (libmsi) are
// loaded when the first archive or installer is opened, not when the program
// starts: they bring some twenty libraries with them (GLib, GIO, libxml2,
// ICU...), whose loading alone made every start of the program, archives or
// not, several times slower. Their calls are reached through the tables
// below; a table is there only once its library loaded.

#include <archive.h>
#include <archive_entry.h>
#include <gio/gio.h>
#include <libmsi.h>

#include <string>

#define SORVANE_LIBARCHIVE_CALLS(X)                                                            \
    X(archive_entry_filetype) X(archive_entry_hardlink) X(archive_entry_is_encrypted)           \
    X(archive_entry_mtime) X(archive_entry_mtime_is_set) X(archive_entry_pathname)              \
    X(archive_entry_perm) X(archive_entry_size) X(archive_entry_size_is_set) X(archive_errno)   \
    X(archive_error_string) X(archive_filter_bytes) X(archive_filter_count) X(archive_format)   \
    X(archive_read_data_block) X(archive_read_data_skip) X(archive_read_free)                   \
    X(archive_read_new) X(archive_read_next_header) X(archive_read_open2)                       \
    X(archive_read_open_fd) X(archive_read_support_filter_bzip2)                                \
    X(archive_read_support_filter_gzip) X(archive_read_support_filter_xz)                       \
    X(archive_read_support_filter_zstd) X(archive_read_support_format_7zip)                     \
    X(archive_read_support_format_cab) X(archive_read_support_format_iso9660)                   \
    X(archive_read_support_format_tar) X(archive_read_support_format_zip_seekable)

// GLib's calls come with libmsi, which needs them itself.
#define SORVANE_LIBMSI_CALLS(X)                                                                \
    X(g_error_free) X(g_free) X(g_input_stream_read) X(g_input_stream_skip) X(g_object_ref)     \
    X(g_object_unref) X(libmsi_database_new) X(libmsi_query_close) X(libmsi_query_execute)      \
    X(libmsi_query_fetch) X(libmsi_query_new) X(libmsi_record_get_int)                          \
    X(libmsi_record_get_stream) X(libmsi_record_get_string) X(libmsi_record_is_null)            \
    X(libmsi_record_new) X(libmsi_record_set_string) X(libmsi_summary_info_get_int)             \
    X(libmsi_summary_info_new)

namespace sorvane {

#define SORVANE_CALL_POINTER(name) decltype(&::name) name = nullptr;
struct LibarchiveCalls {
    SORVANE_LIBARCHIVE_CALLS(SORVANE_CALL_POINTER)
};
struct LibmsiCalls {
    SORVANE_LIBMSI_CALLS(SORVANE_CALL_POINTER)
};
#undef SORVANE_CALL_POINTER

/// Loads libarchive the first time it is asked (once, whichever thread
/// asks); false, with why in `why`, when it cannot be loaded.
bool LoadLibarchive(std::string* why = nullptr);
/// Loads libmsi (and libarchive, which reads its cabinets) in the same way.
bool LoadLibmsi(std::string* why = nullptr);

/// The calls of a library loaded by a Load that returned true.
const LibarchiveCalls& Libarchive();
const LibmsiCalls& Libmsi();

} // namespace sorvane
