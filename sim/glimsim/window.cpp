#include "window.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t WINDOW_CLASS[] = L"GLIMSIM_WINDOW";

enum TimerId : UINT_PTR { TIMER_REFRESH = 1, TIMER_RATES = 2, TIMER_END = 3 };
constexpr UINT REFRESH_MS = 40;
constexpr UINT RATES_MS = 500;

// Layout, in pixels at 96 DPI (100 % scaling); drawn at the window's DPI.
constexpr int BASE_DPI = 96;
constexpr int MARGIN = 18;
constexpr int HEADER_HEIGHT = 74;
constexpr int TILE_WIDTH = 264;
constexpr int TILE_HEIGHT = 156;
constexpr int TILE_GAP = 14;
constexpr int LOG_TITLE_HEIGHT = 26;
constexpr int LOG_MIN_LINES = 10;
constexpr int MAX_COLUMNS = 3;

// Colours: a dark panel so the lit tiles stand out.
const COLORREF BACKGROUND = RGB(17, 20, 25);
const COLORREF HEADER = RGB(24, 28, 35);
const COLORREF TILE = RGB(29, 34, 41);
const COLORREF TILE_EDGE = RGB(47, 54, 64);
const COLORREF LOG_PANEL = RGB(12, 15, 19);
const COLORREF TEXT = RGB(229, 235, 240);
const COLORREF DIM = RGB(128, 138, 150);
const COLORREF GREEN = RGB(70, 255, 128);
const COLORREF GREEN_DARK = RGB(20, 44, 30);
const COLORREF CYAN = RGB(108, 196, 255);
const COLORREF AMBER = RGB(255, 190, 80);
const COLORREF RED = RGB(255, 104, 96);
const COLORREF WHITE = RGB(255, 255, 255);

struct Fonts {
    HFONT title = nullptr;
    HFONT label = nullptr;
    HFONT strong = nullptr;
    HFONT value = nullptr;
    HFONT small = nullptr;
    HFONT mono = nullptr;
};

// A length of the layout at the window's DPI.
struct Scale {
    int dpi = BASE_DPI;
    int operator()(int pixels) const { return MulDiv(pixels, dpi, BASE_DPI); }
};

// Everything the window shows; bound to the window through GWLP_USERDATA.
struct View {
    const SimOptions* options = nullptr;
    SimDevice* device = nullptr;
    Server* server = nullptr;
    Fonts fonts;
    Scale px;
    int monoHeight = 14;
    unsigned long shownChanges = ~0UL;
};

// The DPI the window is drawn at. GetDpiForWindow came with Windows 10 (1607):
// looked up here, the screen's DPI where it is missing.
int DpiOf(HWND window) {
    typedef UINT(WINAPI * GetDpiForWindowProc)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto forWindow = reinterpret_cast<GetDpiForWindowProc>(
        user32 ? reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")) : nullptr);
    UINT dpi = forWindow && window ? forWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi ? static_cast<int>(dpi) : BASE_DPI;
}

// Read by RequestWindowClose from other threads.
HWND volatile MainWindow = nullptr;

COLORREF Mix(COLORREF from, COLORREF to, double t) {
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    auto channel = [t](int a, int b) { return static_cast<BYTE>(a + (b - a) * t + 0.5); };
    return RGB(channel(GetRValue(from), GetRValue(to)), channel(GetGValue(from), GetGValue(to)),
               channel(GetBValue(from), GetBValue(to)));
}

std::wstring Grouped(unsigned long value) {
    std::wstring digits = std::to_wstring(value);
    std::wstring out;
    for (size_t n = 0; n < digits.size(); ++n) {
        if (n > 0 && (digits.size() - n) % 3 == 0) out += L',';
        out += digits[n];
    }
    return out;
}

std::wstring Format(const wchar_t* format, ...) {
    wchar_t text[256];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 255, format, args);
    va_end(args);
    text[255] = 0;
    return text;
}

int CALLBACK OnFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// The first face of the list that this machine has; the last one otherwise.
std::wstring PickFace(HDC dc, std::initializer_list<const wchar_t*> faces) {
    const wchar_t* last = L"";
    for (const wchar_t* face : faces) {
        LOGFONTW want = {};
        want.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(want.lfFaceName, face, LF_FACESIZE);
        bool found = false;
        EnumFontFamiliesExW(dc, &want, OnFontFound, reinterpret_cast<LPARAM>(&found), 0);
        if (found) return face;
        last = face;
    }
    return last;
}

HFONT MakeFont(const std::wstring& face, int height, int weight) {
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

void MakeFonts(View& view) {
    HDC dc = GetDC(nullptr);
    std::wstring ui = PickFace(dc, {L"Segoe UI", L"DejaVu Sans", L"Tahoma", L"Arial"});
    std::wstring mono =
        PickFace(dc, {L"Consolas", L"DejaVu Sans Mono", L"Lucida Console", L"Courier New"});
    ReleaseDC(nullptr, dc);
    const Scale& px = view.px;
    view.fonts.title = MakeFont(ui, px(26), FW_BOLD);
    view.fonts.label = MakeFont(ui, px(13), FW_NORMAL);
    view.fonts.strong = MakeFont(ui, px(15), FW_BOLD);
    view.fonts.value = MakeFont(ui, px(34), FW_BOLD);
    view.fonts.small = MakeFont(ui, px(12), FW_NORMAL);
    view.fonts.mono = MakeFont(mono, px(13), FW_NORMAL);
}

void FreeFonts(Fonts& fonts) {
    for (HFONT font : {fonts.title, fonts.label, fonts.strong, fonts.value, fonts.small, fonts.mono})
        if (font) DeleteObject(font);
    fonts = Fonts();
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
    SetDCBrushColor(dc, colour);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void RoundBox(HDC dc, const RECT& r, COLORREF fill, COLORREF edge, int radius) {
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCBrushColor(dc, fill);
    SetDCPenColor(dc, edge);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
}

void Disc(HDC dc, int x, int y, int radius, COLORREF colour) {
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(NULL_PEN));
    SetDCBrushColor(dc, colour);
    Ellipse(dc, x - radius, y - radius, x + radius + 1, y + radius + 1);
}

// Draws `text` at (x, y) in `font` and `colour`; returns the x after it.
int Text(HDC dc, int x, int y, const std::wstring& text, HFONT font, COLORREF colour) {
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return x + size.cx;
}

int TextWidth(HDC dc, const std::wstring& text, HFONT font) {
    SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// The colour an LED lights in, and its dim form.
COLORREF Hue(const Led& led) { return led.color >= 0 ? static_cast<COLORREF>(led.color) : GREEN; }
COLORREF DarkHue(const Led& led) { return led.color >= 0 ? Mix(RGB(0, 0, 0), Hue(led), 0.2) : GREEN_DARK; }

// A lamp with a soft glow whose strength follows the brightness, drawn over
// `base`, the tile's own colour, lighting in `hue` (`dark` when dim).
void DrawLamp(HDC dc, const Scale& px, int x, int y, double level, bool lit, COLORREF base, COLORREF hue,
              COLORREF dark) {
    const int glow = px(50), core = px(24);
    double strength = lit ? level : 0;
    COLORREF lamp = lit ? Mix(dark, hue, level) : RGB(38, 44, 52);
    for (int r = glow; r > core; --r) {
        double t = static_cast<double>(glow - r) / (glow - core);
        Disc(dc, x, y, r, Mix(base, hue, 0.7 * t * t * strength));
    }
    Disc(dc, x, y, core + px(2), Mix(base, RGB(6, 8, 10), 0.55 - 0.3 * strength));
    Disc(dc, x, y, core, lamp);
    Disc(dc, x - px(7), y - px(8), px(8), Mix(lamp, WHITE, lit ? 0.25 + 0.35 * level : 0.08));
}

std::wstring AttributeName(int attribute) {
    switch (attribute) {
    case 0: return L"Board logo";
    case 1: return L"SLI bridge";
    default: return attribute >= 2 ? Format(L"Zone %d", attribute - 1) : Format(L"Attribute %d", attribute);
    }
}

void DrawTile(HDC dc, const RECT& r, const LedState& led, const View& view) {
    const Fonts& fonts = view.fonts;
    const Scale& px = view.px;
    double level = led.luminance <= 0 ? 0 : led.luminance >= 100 ? 1 : led.luminance / 100.0;
    double shown = led.lit ? level : 0;
    const COLORREF hue = Hue(led.led), dark = DarkHue(led.led);
    COLORREF fill = Mix(TILE, Mix(TILE, hue, 0.25), shown * 0.6);
    RoundBox(dc, r, fill, Mix(TILE_EDGE, hue, shown * 0.8), px(16));
    DrawLamp(dc, px, r.left + px(60), r.top + px(60), level, led.lit, fill, hue, dark);

    int x = r.left + px(124), y = r.top + px(14);
    Text(dc, x, y, Format(L"DISPLAY %d  \u00B7  GPU %d", led.led.display, led.led.gpu),
         fonts.label, DIM);
    Text(dc, x, y + px(18), AttributeName(led.led.attribute), fonts.strong, TEXT);
    if (led.lit) {
        int end = Text(dc, x - px(2), y + px(38), std::to_wstring(led.luminance), fonts.value,
                       Mix(Mix(TEXT, DIM, 0.4), hue, 0.25 + 0.75 * level));
        Text(dc, end + px(4), y + px(58), L"%", fonts.strong, DIM);
    } else {
        Text(dc, x, y + px(38), L"\u2014", fonts.value, Mix(TILE_EDGE, DIM, 0.5));
    }

    // The meter, then the counters under it across the whole tile.
    RECT track = {r.left + px(16), r.bottom - px(40), r.right - px(16), r.bottom - px(35)};
    Fill(dc, track, Mix(fill, BACKGROUND, 0.7));
    if (shown > 0) {
        RECT bar = track;
        bar.right = track.left + static_cast<int>((track.right - track.left) * shown + 0.5);
        Fill(dc, bar, Mix(dark, hue, 0.4 + 0.6 * shown));
    }
    std::wstring counts = Grouped(led.notifications) +
                          (led.notifications == 1 ? L" notification" : L" notifications");
    Text(dc, r.left + px(16), r.bottom - px(27), counts, fonts.small, DIM);
    std::wstring rate = Format(L"%.1f/s", led.rate);
    Text(dc, r.right - px(16) - TextWidth(dc, rate, fonts.small), r.bottom - px(27), rate, fonts.small,
         led.rate > 0 ? Mix(DIM, hue, 0.6) : DIM);
}

// Text badges for the options that make the device misbehave.
std::vector<std::pair<std::wstring, COLORREF>> Badges(const SimOptions& o) {
    std::vector<std::pair<std::wstring, COLORREF>> badges;
    if (o.noAnswer) badges.push_back({L"never answers", RED});
    if (o.refuseQuery) badges.push_back({L"refuses queries", AMBER});
    if (o.refuseNotify) badges.push_back({L"refuses notifications", AMBER});
    if (o.refuseNotifyAfter >= 0)
        badges.push_back({Format(L"refuses after %ld", o.refuseNotifyAfter), AMBER});
    if (o.replySize != DATAGRAM_SIZE)
        badges.push_back({Format(L"%d-byte replies", o.replySize), RED});
    if (o.delayMs > 0) badges.push_back({Format(L"answers after %u ms", o.delayMs), AMBER});
    if (badges.empty()) badges.push_back({L"healthy", GREEN});
    return badges;
}

void DrawHeader(HDC dc, const RECT& client, const View& view, const SimDevice::Snapshot& snap) {
    const Scale& px = view.px;
    const int margin = px(MARGIN), height = px(HEADER_HEIGHT);
    RECT band = {0, 0, client.right, height};
    Fill(dc, band, HEADER);
    RECT rule = {0, height - px(1), client.right, height};
    Fill(dc, rule, TILE_EDGE);

    bool anyLit = false;
    for (const LedState& led : snap.leds) anyLit = anyLit || (led.lit && led.luminance > 0);
    Disc(dc, margin + px(9), px(27), px(9), anyLit ? GREEN : RGB(60, 68, 78));
    Disc(dc, margin + px(6), px(24), px(3), Mix(anyLit ? GREEN : RGB(60, 68, 78), WHITE, 0.45));
    Text(dc, margin + px(28), px(11), L"GLIMSIM", view.fonts.title, TEXT);

    std::wstring where = Format(L"Simulated debug device  \u00B7  127.0.0.1:%u", view.server->Port());
    if (view.server->ReplyPort())
        where += Format(L"  \u00B7  answers from :%u", view.server->ReplyPort());
    where += Format(L"  \u00B7  %u LED%s", static_cast<unsigned>(snap.leds.size()),
                    snap.leds.size() == 1 ? L"" : L"s");
    Text(dc, margin + px(1), px(46), where, view.fonts.label, DIM);

    // Right-aligned: the datagram count and the behaviour badges.
    std::wstring count = Grouped(snap.datagrams) + L" datagrams";
    int right = client.right - margin;
    Text(dc, right - TextWidth(dc, count, view.fonts.strong), px(15), count, view.fonts.strong, TEXT);
    int x = right;
    for (const auto& badge : Badges(*view.options)) {
        int width = TextWidth(dc, badge.first, view.fonts.small) + px(16);
        RECT box = {x - width, px(42), x, px(62)};
        RoundBox(dc, box, Mix(HEADER, badge.second, 0.12), Mix(HEADER, badge.second, 0.7), px(10));
        Text(dc, box.left + px(8), box.top + px(3), badge.first, view.fonts.small, badge.second);
        x -= width + px(8);
    }
}

// Tiles per row and their width for a client `width`: as many as fit, but
// spread evenly over the rows (four LEDs make two rows of two), stretched to
// fill the row.
struct TileGrid {
    int columns;
    int rows;
    int tileWidth;
};

TileGrid Grid(int count, int width, const Scale& px) {
    const int gap = px(TILE_GAP), narrowest = px(TILE_WIDTH);
    int room = width - 2 * px(MARGIN);
    int fit = (room + gap) / (narrowest + gap);
    if (fit < 1) fit = 1;
    if (count < 1) count = 1;
    int rows = (count + fit - 1) / fit;
    int columns = (count + rows - 1) / rows;
    int tileWidth = (room - (columns - 1) * gap) / columns;
    if (tileWidth < narrowest) tileWidth = narrowest;
    return {columns, rows, tileWidth};
}

int TilesHeight(int count, int width, const Scale& px) {
    int rows = Grid(count, width, px).rows;
    return rows * px(TILE_HEIGHT) + (rows - 1) * px(TILE_GAP);
}

void DrawTiles(HDC dc, const RECT& client, const View& view, const SimDevice::Snapshot& snap) {
    const Scale& px = view.px;
    TileGrid grid = Grid(static_cast<int>(snap.leds.size()), client.right, px);
    for (size_t n = 0; n < snap.leds.size(); ++n) {
        int column = static_cast<int>(n) % grid.columns, row = static_cast<int>(n) / grid.columns;
        int left = px(MARGIN) + column * (grid.tileWidth + px(TILE_GAP));
        int top = px(HEADER_HEIGHT) + px(MARGIN) + row * (px(TILE_HEIGHT) + px(TILE_GAP));
        RECT tile = {left, top, left + grid.tileWidth, top + px(TILE_HEIGHT)};
        DrawTile(dc, tile, snap.leds[n], view);
    }
}

COLORREF KindColour(What what) {
    switch (what) {
    case What::Query: return CYAN;
    case What::Notify: return GREEN;
    default: return AMBER;
    }
}

void DrawLogLine(HDC dc, int x, int y, const LogEntry& e, const View& view) {
    HFONT mono = view.fonts.mono;
    int column = TextWidth(dc, L"0", mono);
    Text(dc, x, y,
         Format(L"%02u:%02u:%02u.%03u", e.time.wHour, e.time.wMinute, e.time.wSecond,
                e.time.wMilliseconds),
         mono, DIM);
    x += 14 * column;
    Text(dc, x, y, Format(L"#%lu", e.seq), mono, Mix(DIM, LOG_PANEL, 0.3));
    x += 9 * column;
    static_assert(sizeof(wchar_t) == 2, "UTF-16 texts");
    const wchar_t* kind = e.what == What::Query    ? L"query"
                          : e.what == What::Notify ? L"notify"
                          : e.what == What::Unknown ? L"unknown"
                                                    : L"malformed";
    Text(dc, x, y, kind, mono, KindColour(e.what));
    x += 11 * column;
    if (e.what == What::Malformed) {
        Text(dc, x, y, Format(L"%d bytes", e.size), mono, AMBER);
    } else {
        Text(dc, x, y, Format(L"%ld,%ld,%ld", static_cast<long>(e.display), static_cast<long>(e.gpu),
                              static_cast<long>(e.attribute)),
             mono, TEXT);
        if (e.what == What::Notify)
            Text(dc, x + 10 * column, y, Format(L"%4ld %%", static_cast<long>(e.luminance)), mono,
                 TEXT);
        else if (e.what == What::Unknown)
            Text(dc, x + 10 * column, y, Format(L"kind %ld", static_cast<long>(e.kind)), mono, AMBER);
    }
    x += 22 * column;
    Text(dc, x, y, Format(L"from :%u", e.fromPort), mono, DIM);
    x += 14 * column;
    std::wstring result;
    COLORREF colour;
    if (e.status < 0) {
        result = L"\u2192 no answer";
        colour = RED;
    } else if (e.status == STATUS_QUERY_OK || e.status == STATUS_NOTIFY_OK) {
        result = Format(L"\u2192 %s (%d)", e.status == STATUS_QUERY_OK ? L"has it" : L"accepted",
                        e.status);
        colour = GREEN;
    } else {
        result = Format(L"\u2192 refused (%d)", e.status);
        colour = AMBER;
    }
    if (e.status >= 0 && e.replySize != DATAGRAM_SIZE) {
        result += Format(L", %d bytes", e.replySize);
        colour = RED;
    }
    Text(dc, x, y, result, mono, colour);
}

void DrawLog(HDC dc, const RECT& area, const View& view, const SimDevice::Snapshot& snap) {
    const Scale& px = view.px;
    Text(dc, area.left + px(2), area.top, L"RECENT DATAGRAMS", view.fonts.small, DIM);
    RECT panel = {area.left, area.top + px(LOG_TITLE_HEIGHT - 6), area.right, area.bottom};
    RoundBox(dc, panel, LOG_PANEL, TILE_EDGE, px(12));
    int lineHeight = view.monoHeight + px(4);
    int rows = (panel.bottom - panel.top - px(16)) / lineHeight;
    if (rows <= 0) return;
    if (snap.log.empty()) {
        Text(dc, panel.left + px(14), panel.top + px(10),
             Format(L"Waiting for datagrams on 127.0.0.1:%u \u2026", view.server->Port()),
             view.fonts.mono, DIM);
        return;
    }
    // The newest line sits at the bottom; older ones scroll up and out.
    size_t shown = snap.log.size() < static_cast<size_t>(rows) ? snap.log.size() : rows;
    int y = panel.top + px(8);
    for (size_t n = snap.log.size() - shown; n < snap.log.size(); ++n) {
        DrawLogLine(dc, panel.left + px(14), y, snap.log[n], view);
        y += lineHeight;
    }
}

View* ViewOf(HWND window) {
    return reinterpret_cast<View*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The fonts at the view's DPI, and the log's line height in them.
void MakeScaledFonts(HWND window, View& view) {
    FreeFonts(view.fonts);
    MakeFonts(view);
    HDC dc = GetDC(window);
    SelectObject(dc, view.fonts.mono);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    view.monoHeight = metrics.tmHeight;
    ReleaseDC(window, dc);
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
    View* view = static_cast<View*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    view->px.dpi = DpiOf(window);
    MakeScaledFonts(window, *view);
    SetTimer(window, TIMER_REFRESH, REFRESH_MS, nullptr);
    SetTimer(window, TIMER_RATES, RATES_MS, nullptr);
    if (view->options->seconds) SetTimer(window, TIMER_END, view->options->seconds * 1000, nullptr);
    return 0;
}

LRESULT OnPaint(HWND window) {
    View* view = ViewOf(window);
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    // Drawn off screen first: the tiles repaint many times a second.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
    if (view && dc && bitmap) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        HGDIOBJ oldFont = SelectObject(dc, view->fonts.label);
        SetBkMode(dc, TRANSPARENT);
        SimDevice::Snapshot snap = view->device->Take();
        view->shownChanges = snap.changes;
        Fill(dc, client, BACKGROUND);
        DrawHeader(dc, client, *view, snap);
        DrawTiles(dc, client, *view, snap);
        const Scale& px = view->px;
        int logTop = px(HEADER_HEIGHT) + px(MARGIN) +
                     TilesHeight(static_cast<int>(snap.leds.size()), client.right, px) + px(MARGIN) + px(4);
        RECT log = {px(MARGIN), logTop, client.right - px(MARGIN), client.bottom - px(MARGIN)};
        DrawLog(dc, log, *view, snap);
        BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
    }
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnTimer(HWND window, UINT_PTR id) {
    View* view = ViewOf(window);
    if (!view) return 0;
    switch (id) {
    case TIMER_REFRESH:
        if (view->device->Changes() != view->shownChanges) InvalidateRect(window, nullptr, FALSE);
        break;
    case TIMER_RATES:
        view->device->UpdateRates(GetTickCount());
        break;
    case TIMER_END:
        KillTimer(window, TIMER_END);
        PostMessageW(window, WM_CLOSE, 0, 0);
        break;
    }
    return 0;
}

LRESULT OnGetMinMaxInfo(HWND window, MINMAXINFO* info) {
    // Asked before WM_CREATE too, when the view is not yet bound.
    View* view = ViewOf(window);
    Scale px = view ? view->px : Scale {DpiOf(window)};
    info->ptMinTrackSize.x = px(TILE_WIDTH + 2 * MARGIN + 40);
    info->ptMinTrackSize.y = px(360);
    return 0;
}

// Moved to a display of another scaling: fonts and layout at the new DPI, in
// the size the system suggests (lParam).
LRESULT OnDpiChanged(HWND window, WPARAM wParam, const RECT* suggested) {
    View* view = ViewOf(window);
    if (!view || HIWORD(wParam) == 0) return 0;
    view->px.dpi = HIWORD(wParam);
    MakeScaledFonts(window, *view);
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, FALSE);
    return 0;
}

LRESULT OnDestroy(HWND window) {
    KillTimer(window, TIMER_REFRESH);
    KillTimer(window, TIMER_RATES);
    KillTimer(window, TIMER_END);
    if (View* view = ViewOf(window)) FreeFonts(view->fonts);
    MainWindow = nullptr;
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(window, reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_PAINT: return OnPaint(window);
    case WM_ERASEBKGND: return 1;
    case WM_SIZE: InvalidateRect(window, nullptr, FALSE); return 0;
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
    case WM_DPICHANGED: return OnDpiChanged(window, wParam, reinterpret_cast<const RECT*>(lParam));
    case WM_DESTROY: return OnDestroy(window);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A client area that fits the tiles in up to three columns and a log below,
// no taller than the screen's work area.
SIZE InitialClientSize(size_t leds, const Scale& px) {
    int columns = leds < MAX_COLUMNS ? static_cast<int>(leds) : MAX_COLUMNS;
    if (columns < 1) columns = 1;
    int width = px(2 * MARGIN + columns * TILE_WIDTH + (columns - 1) * TILE_GAP);
    if (width < px(860)) width = px(860);
    int logHeight = px(LOG_TITLE_HEIGHT + 16 + LOG_MIN_LINES * 19);
    int height = px(HEADER_HEIGHT + MARGIN) + TilesHeight(static_cast<int>(leds), width, px) +
                 px(MARGIN + 4) + logHeight + px(MARGIN);
    RECT work;
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && height > work.bottom - work.top - 60)
        height = work.bottom - work.top - 60;
    return SIZE{width, height};
}

}  // namespace

bool RunWindow(const SimOptions& options, SimDevice& device, Server& server) {
    // Requests are answered from the start, also while the window is still
    // being made (its fonts can take a while on a first run).
    if (!server.Start()) return false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassExW(&windowClass)) {
        server.Stop();
        return false;
    }

    View view;
    view.options = &options;
    view.device = &device;
    view.server = &server;
    // The window's DPI is that of the display it opens on, which is not yet
    // known: the screen's will do until WM_DPICHANGED says otherwise.
    SIZE client = InitialClientSize(options.leds.size(), Scale {DpiOf(nullptr)});
    RECT frame = {0, 0, client.cx, client.cy};
    const DWORD style = WS_OVERLAPPEDWINDOW;
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    std::wstring title = Format(L"GLIMSIM \u2014 simulated debug device (127.0.0.1:%u)", server.Port());
    HWND window = CreateWindowExW(0, WINDOW_CLASS, title.c_str(), style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, &view);
    if (!window) {
        server.Stop();
        UnregisterClassW(WINDOW_CLASS, instance);
        return false;
    }
    MainWindow = window;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    server.Stop();
    UnregisterClassW(WINDOW_CLASS, instance);
    return true;
}

void RequestWindowClose() {
    HWND window = MainWindow;
    if (window) PostMessageW(window, WM_CLOSE, 0, 0);
}
