-- Skyvane's music-library hand-off.
--
-- Skyvane calls add_tune once for every finished track whose recording names a
-- playlist. This script tags the track and appends it to the playlist
-- <music folder>/Playlists/<playlist>.m3u8, which music players read.
--
-- To do something else, copy this file to ~/.local/share/skyvane/addTune.lua
-- (or $XDG_DATA_HOME/skyvane/addTune.lua) and change it; Skyvane prefers that
-- copy and loads it once per run. A handler that returns counts as success, and
-- a text it returns is written to the recording's log; an error it raises is
-- written there too. Besides Lua's standard libraries (less what could block or
-- end Skyvane: see the README) the script has the `skyvane` table: tag,
-- music_folder, make_folder and file_name_safe. All texts are UTF-8.

local ENOENT = 2

-- The entries of an existing playlist, oldest first, except the one at
-- `skipped`: each the location, after its #EXTINF line if it has one. Other
-- comment lines are not kept. An entry is one string, which keeps a long
-- playlist small in memory.
local function read_entries(file_name, skipped)
    local file, message, code = io.open(file_name, "rb")
    if not file then
        if code == ENOENT then
            return {}
        end
        error("cannot read the playlist: " .. message)
    end
    local entries, info = {}, nil
    for line in file:lines() do
        line = line:gsub("\r$", "")
        if line:find("^#EXTINF:") then
            info = line
        elseif line ~= "" and not line:find("^#") then
            if line ~= skipped then
                entries[#entries + 1] = info and info .. "\n" .. line or line
            end
            info = nil
        end
    end
    file:close()
    return entries
end

-- The text made fit for one playlist line: control characters (CR, LF and the
-- others, NEL among them) and the Unicode line and paragraph separators, which
-- some players take for line breaks, become spaces. The patterns name UTF-8
-- bytes, so they mean the same in every locale.
local function one_line(text)
    return (text:gsub("[\0-\31\127]", " "):gsub("\194[\128-\159]", " ")
        :gsub("\226\128[\168\169]", " "))
end

-- A path that cannot stand on one line is written as a file:// URL with its
-- bytes escaped.
local function location_of(path)
    if one_line(path) == path then
        return path
    end
    return "file://" .. path:gsub("[^%w/%-%._~]", function(c)
        return string.format("%%%02X", c:byte())
    end)
end

local function entry_info(artist, title)
    local name = title
    if artist ~= "" then
        name = artist .. " - " .. title
    end
    return "#EXTINF:-1," .. one_line(name)
end

-- Writes the entries from `first` on into a temporary file next to the
-- playlist, then renames it over the playlist, so a full disk never leaves
-- half a playlist behind.
local function write_playlist(file_name, entries, first)
    local temporary = file_name .. ".tmp"
    local file, message = io.open(temporary, "wb")
    local ok = file ~= nil
    if file then
        ok, message = file:write("#EXTM3U\n")
        for i = first, #entries do
            if not ok then
                break
            end
            ok, message = file:write(entries[i], "\n")
        end
        local closed, close_message = file:close()
        ok, message = ok and closed, message or close_message
        if ok then
            ok, message = os.rename(temporary, file_name)
        end
        if not ok then
            os.remove(temporary)
        end
    end
    if not ok then
        error("cannot write the playlist " .. file_name .. ": " .. tostring(message))
    end
end

local function playlist_file(playlist)
    local music, reason = skyvane.music_folder()
    if not music then
        error(reason)
    end
    local folder = music .. "/Playlists"
    local made, why = skyvane.make_folder(folder)
    if not made then
        error(why)
    end
    return folder .. "/" .. skyvane.file_name_safe(playlist) .. ".m3u8"
end

-- Tags the track and appends it to the playlist, which keeps at most `count`
-- entries: the oldest entries go (their files stay). A track that could not be
-- tagged is listed all the same, and the log says why.
function add_tune(path, playlist, title, album, artist, genre, count)
    local track, message = io.open(path, "rb")
    if not track then
        error("cannot read the track: " .. message)
    end
    track:close()
    local tagged, why = skyvane.tag(path,
        { title = title, album = album, artist = artist, genre = genre })

    local file_name = playlist_file(playlist)
    local location = location_of(path)
    local entries = read_entries(file_name, location)
    entries[#entries + 1] = entry_info(artist, title) .. "\n" .. location

    local limit = math.max(math.tointeger(count) or math.maxinteger, 0)
    write_playlist(file_name, entries, math.max(#entries - limit + 1, 1))
    if not tagged then
        return "Track left untagged: " .. why
    end
    return true
end
