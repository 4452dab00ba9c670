/* C interface of the signing component for desktop programs.
 *
 * Create one object, invoke its members by name or DISPID, read the error
 * information after a failure, release the object. Strings cross this
 * interface as UTF-16 units; results are owned by the caller and freed with
 * tessal_variant_clear. Arguments are read only: a member that converts its
 * VARIANT* argument in place does so on a private copy.
 */
#ifndef TESSAL_TESSAL_H
#define TESSAL_TESSAL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t tessal_hresult;
typedef struct tessal_sign tessal_sign;

enum tessal_vartype {
    TESSAL_VT_EMPTY = 0,
    TESSAL_VT_NULL = 1,
    TESSAL_VT_STRING = 2,
    TESSAL_VT_BYTES = 3,
    TESSAL_VT_INT = 4,
    TESSAL_VT_UINT = 5,
    TESSAL_VT_DOUBLE = 6,
    TESSAL_VT_BOOL = 7,
    TESSAL_VT_DATE = 8,
    TESSAL_VT_DISPATCH = 9,
    /* an optional argument left out: its default applies */
    TESSAL_VT_MISSING = 100
};

/* The card-removal callback, registered as the TESSAL_VT_DISPATCH value of
 * onCardRemoved (DISPID 16). It is called with its callback_data when the
 * signer's card leaves its reader, at most once per key selection, on the
 * card monitor's thread (not the thread that invokes members) and while a
 * process-wide lock is held. It must return promptly and must neither invoke
 * onCardRemoved nor release a tessal_sign, nor wait for another thread that
 * does: both take that lock. Post a message to your own thread instead.
 * A NULL callback is refused and leaves no callback registered. */
typedef tessal_hresult (*tessal_callback)(void* user_data);

typedef struct tessal_variant {
    int32_t type;   /* enum tessal_vartype */
    int32_t by_ref; /* non-zero: passed by reference */
    const uint16_t* str;  /* TESSAL_VT_STRING: UTF-16 units */
    size_t str_len;
    const uint8_t* bytes; /* TESSAL_VT_BYTES */
    size_t bytes_len;
    int64_t integer;      /* INT, UINT, BOOL (non-zero is true) */
    double real;          /* DOUBLE, DATE (days since 1899-12-30) */
    tessal_callback callback; /* DISPATCH: NULL for a null reference */
    void* callback_data;
} tessal_variant;

/* An object of a desktop program (no hosting page). */
tessal_hresult tessal_sign_create(tessal_sign** out);
/* An object hosted in a page at `page_url` (UTF-8) in security zone `zone`. */
tessal_hresult tessal_sign_create_in_page(const char* page_url, uint32_t zone, tessal_sign** out);
void tessal_sign_release(tessal_sign* sign);

/* Invokes a member (name case-insensitive, or DISPID 1..18). `result` may be
 * NULL; otherwise it receives the member's result (TESSAL_VT_EMPTY for none). */
tessal_hresult tessal_sign_invoke(tessal_sign* sign, const char* member, const tessal_variant* args, size_t count,
                                  tessal_variant* result);
tessal_hresult tessal_sign_invoke_dispid(tessal_sign* sign, int32_t dispid, const tessal_variant* args, size_t count,
                                         tessal_variant* result);

/* The safety interface a browser calls, for the dispatch interface. */
tessal_hresult tessal_sign_set_interface_safety_options(tessal_sign* sign, uint32_t mask, uint32_t enabled);
tessal_hresult tessal_sign_get_interface_safety_options(tessal_sign* sign, uint32_t* supported, uint32_t* enabled);

/* One filled rectangle of the control's face: fill the pixels x in
 * [left, right) and y in [top, bottom). */
typedef struct tessal_face_rect {
    int32_t left, top, right, bottom;
} tessal_face_rect;

/* The control's face, for a host that draws the object's face itself: the
 * pattern of the last signing or verification run within the box
 * (left, top)-(right, bottom) in pixels. Answers S_OK with the colour
 * (0x00BBGGRR: green when the run held, red when it recorded an error) and
 * *count rectangles in *rects, to be freed with tessal_free; S_FALSE with
 * none when the run left no signature value or after reset. Repaint after
 * every signXml, verifyXmlSign and reset. */
tessal_hresult tessal_sign_face(tessal_sign* sign, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                uint32_t* colour, tessal_face_rect** rects, size_t* count);

/* Takes the calling thread's error information: 1 and two UTF-8 strings to
 * free with tessal_free, or 0 when none is set. */
int tessal_take_error_info(char** source, char** description);

void tessal_variant_clear(tessal_variant* value);
void tessal_free(void* pointer);

#ifdef __cplusplus
}
#endif

#endif
