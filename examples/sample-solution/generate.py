#!/usr/bin/env python3
"""Writes the sample solution: a made-up customer's content, laid out as the
web service serves it (service/) and as a host app bundles it (bundle/res/).

The content is synthetic: two campuses, one astride the Greenwich meridian and
one on the Aarhus harbour front, three buildings, twelve floors and a few
hundred locations, with a route network per campus, images, map tiles and a
tile package, and the size response that lists what a data set downloads.
Every run writes the same bytes (fixed seed, sorted keys, rounded coordinates,
fixed dates in the zip), so the committed copy only changes when this script does.

    python3 generate.py                  # the small solution, beside this script
    python3 generate.py --out /tmp/big --large   # 50,000 locations, for benchmarks
    python3 generate.py --out /tmp/big --locations 100000   # any number of locations, for benchmarks
    python3 generate.py --out /tmp/grids --grid 10000 --grid 100000   # route-network grids, for benchmarks
    python3 generate.py --out /tmp/clusters --clustering   # clustering on, with points packed on one floor
    python3 generate.py --check          # fails when the committed copy differs from what this script writes

A large variant is the same campuses with the offices filled with desks, round after round, until the solution
holds the number of locations asked for.
"""

import argparse
import hashlib
import io
import json
import math
import os
import random
import shutil
import struct
import sys
import tempfile
import zipfile
import zlib

SOLUTION_ID = "d9f3a1c0e5b24f7a9c1e3b5d7f9a2c4e"
LANGUAGES = ("en", "da")
DEFAULT_LANGUAGE = "en"
# 2025-01-01T00:00:00Z: when the bundled snapshot claims to have been taken.
SNAPSHOT_TIMESTAMP = 1735689600
# The hosts the documents name. A test's loopback web service stands in for all four: it serves a URL's path
# from service/<path> and writes its own origin in their place into every document it serves.
API = "https://api.ambrell.com/"  # the web service's production base URL; sync URLs start with it
MEDIA = "https://media.ambrell.com"  # icons and images the solution's content uploads
TILES = "https://tiles.ambrell.com"  # the tile server: single tiles and the solution's tile package
EXTERNAL = "https://photos.example.com"  # images the customer keeps on a site of their own
ORIGINS = (API.rstrip("/"), MEDIA, TILES, EXTERNAL)
# When the service's documents were last changed (2025-02-01T00:00:00Z): later than the snapshot.
SERVICE_LAST_MODIFIED = 1738368000
# Map tiles are written for these zoom levels only, to keep the committed copy small.
TILE_ZOOMS = (17, 18, 19)
TILE_SIZE = 256
LARGE_LOCATION_COUNT = 50000
# The 3D model the receptions show: a small synthetic glTF file on the media host, its name with a space in it.
MODEL_3D_NAME = "reception desk.glb"
# The clustering variant: this many points of each of a few point types, packed on one floor.
CLUSTER_TYPES = ("Desk", "Elevator", "Entrance")
CLUSTER_POINTS_PER_TYPE = 40
SEED = 20250101
METRES_PER_DEGREE = 111320.0

ENDPOINTS = ("solutions", "venues", "buildings", "locations", "categories", "appconfig", "appuserroles",
             "derivedGeometry", "graph", "routelayer")
# The endpoints whose URL can carry "&venueId=": the service also answers those per venue.
VENUE_ENDPOINTS = ("buildings", "locations", "derivedGeometry", "graph")
# What a data set's synchronisation fetches first: the size of everything else, per scope.
DATASET_ENDPOINT = "dataset"
# The sync URLs the library fetches for a solution, in its order (the locations last); the size response's "json"
# group lists these and the derived geometry.
SYNC_ORDER = ("graph", "venues", "buildings", "solutions", "appconfig", "categories", "appuserroles", "routelayer",
              "locations")


def object_id(*parts):
    """A 24-digit hex id that depends only on what the object is, not on the order of creation."""
    return hashlib.sha1(":".join(str(p) for p in parts).encode("utf-8")).hexdigest()[:24]


def text(en, da):
    return {"en": en, "da": da}


def coordinate(value):
    # Seven decimals is about a centimetre; "+ 0.0" turns -0.0 into 0.0.
    return round(value, 7) + 0.0


# --- geometry in a venue's local metres ------------------------------------------------------------------------

class Frame:
    """Metres east and north of a venue's origin, turned into longitude and latitude."""

    def __init__(self, latitude, longitude):
        self.latitude = latitude
        self.longitude = longitude
        self.metres_per_degree_longitude = METRES_PER_DEGREE * math.cos(math.radians(latitude))

    def lnglat(self, x, y):
        return [coordinate(self.longitude + x / self.metres_per_degree_longitude),
                coordinate(self.latitude + y / METRES_PER_DEGREE)]

    def ring(self, x0, y0, x1, y1, clockwise=False):
        # GeoJSON's rule: outer rings counter-clockwise, holes clockwise; the first point repeats at the end.
        points = [(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)]
        if clockwise:
            points.reverse()
        return [self.lnglat(x, y) for x, y in points]

    def polygon(self, rect):
        return {"type": "Polygon", "coordinates": [self.ring(*rect)]}

    def multipolygon(self, rects):
        return {"type": "MultiPolygon", "coordinates": [[self.ring(*rect)] for rect in rects]}

    def point(self, x, y):
        return {"type": "Point", "coordinates": self.lnglat(x, y)}


def tile_coordinate(longitude, latitude, zoom):
    """The tile server's x and y of the tile holding a point (the usual web-map tiling)."""
    n = 2 ** zoom
    x = int((longitude + 180.0) / 360.0 * n)
    y = int((1.0 - math.asinh(math.tan(math.radians(latitude))) / math.pi) / 2.0 * n)
    return x, y


def ranges(numbers):
    """Sorted node ids as the route network's range list: "0-3,7"."""
    runs = []
    for value in numbers:
        if runs and value == runs[-1][1] + 1:
            runs[-1][1] = value
        else:
            runs.append([value, value])
    return ",".join("%d" % a if a == b else "%d-%d" % (a, b) for a, b in runs)


def sync_url(endpoint, lang, venue_id=None):
    """The library's sync URL on the production base URL."""
    url = "%ssync/%s?solutionId=%s&lr=%s&v=6" % (API, endpoint, SOLUTION_ID, lang)
    return url if venue_id is None else url + "&venueId=" + venue_id


def url_path(url):
    """The path of one of the sample's absolute URLs: what the loopback web service is asked for."""
    for origin in ORIGINS:
        if url.startswith(origin + "/"):
            return url[len(origin):].split("?")[0]
    raise ValueError("not a URL of the sample's hosts: %s" % url)


def bbox(geometry):
    points = []
    if geometry["type"] == "Polygon":
        rings = geometry["coordinates"]
    else:
        rings = [ring for polygon in geometry["coordinates"] for ring in polygon]
    for ring in rings:
        points.extend(ring)
    return [min(p[0] for p in points), min(p[1] for p in points), max(p[0] for p in points),
            max(p[1] for p in points)]


def with_bbox(geometry):
    result = dict(geometry)
    result["bbox"] = bbox(geometry)
    return result


# --- the solution's fixed vocabulary -----------------------------------------------------------------------------

# name, base type, Danish name, icon, polygon colour (None: drawn as an icon only), zoom from
LOCATION_TYPES = [
    ("Office", "ROOM", "Kontor", "office", "#D9E4F5", 18),
    ("Meeting Room", "ROOM", "Mødelokale", "meeting", "#F6D8AE", 17),
    ("Toilet", "ROOM", "Toilet", "toilet", "#CDE8E4", 18),
    ("Kitchen", "ROOM", "Køkken", "kitchen", "#F3E6A1", 18),
    ("Elevator", "POI", "Elevator", "elevator", None, 17),
    ("Stairs", "POI", "Trappe", "stairs", None, 17),
    ("Reception", "POI", "Reception", "reception", None, 16),
    ("Entrance", "POI", "Indgang", "entrance", None, 16),
    ("Desk", "POI", "Skrivebord", "desk", None, 20),
    ("Corridor", "AREA", "Gang", "corridor", "#F2F2F2", 18),
    ("Lounge", "AREA", "Lounge", "lounge", "#E3F0D0", 17),
    ("Parking", "POI", "Parkering", "parking", None, 15),
]

CATEGORIES = [
    ("meeting", text("Meeting rooms", "Mødelokaler"), text("Rooms you can book", "Lokaler, du kan booke")),
    ("facilities", text("Facilities", "Faciliteter"), text("Toilets and kitchens", "Toiletter og køkkener")),
    ("food", text("Food and drink", "Mad og drikke"), text("Coffee, tea and lunch", "Kaffe, te og frokost")),
    ("accessibility", text("Accessibility", "Tilgængelighed"),
     text("Step-free routes and accessible toilets", "Trinfri ruter og handicaptoiletter")),
    ("transport", text("Getting here", "Transport"), text("Entrances and parking", "Indgange og parkering")),
]

USER_ROLES = [
    ("staff", text("Staff", "Medarbejder")),
    ("visitor", text("Visitor", "Besøgende")),
    ("facility", text("Facility manager", "Driftsansvarlig")),
]

# Meeting rooms carry the names of people who worked where their building stands.
MEETING_ROOM_NAMES = {
    "MERIDIAN": ["Halley", "Flamsteed", "Bradley", "Airy", "Maskelyne", "Bliss", "Pond", "Christie", "Dyson",
                 "Harrison", "Herschel", "Maunder"],
    "HARBOUR": ["Rømer", "Ørsted", "Brahe", "Lorenz", "Bohr", "Hertzsprung", "Strömgren", "Lehmann", "Horrebow"],
}


def floor_name(index):
    if index < 0:
        return text("Basement", "Kælder")
    if index == 0:
        return text("Ground floor", "Stueetage")
    suffix = {1: "st", 2: "nd", 3: "rd"}.get(index, "th")
    return text("%d%s floor" % (index, suffix), "%d. sal" % index)


# --- the campuses ------------------------------------------------------------------------------------------------

# Each building is a rectangle (width east-west, depth north-south) around its centre, with a corridor along its
# length and rooms of `room_width` on both sides. `gap_floors` leaves the middle of a floor open (an atrium, that
# many metres wide): that floor is two wings, a MultiPolygon.
VENUES = [
    {
        "key": "MERIDIAN", "name": text("Meridian Campus", "Meridian-campus"),
        # The origin lies on longitude 0: the campus, and its main hall, straddle the meridian.
        "origin": (51.47790, 0.0), "extent": (-200.0, -70.0, 90.0, 80.0),
        "address": "Blackheath Avenue, London SE10 8XJ", "phone": "+44 20 7946 0000",
        "buildings": [
            {"key": "MERIDIAN-HALL", "name": text("Meridian Hall", "Meridian Hall"), "centre": (0.0, 0.0),
             "width": 84.0, "depth": 30.0, "room_width": 6.0, "floors": [0, 1, 2, 3, 4], "gap_floors": {},
             "address": "1 Meridian Walk, London SE10 8XJ"},
            {"key": "OBSERVATORY-ANNEX", "name": text("Observatory Annex", "Observatorieannekset"),
             "centre": (-130.0, 10.0), "width": 48.0, "depth": 26.0, "room_width": 6.0, "floors": [0, 1, 2],
             "gap_floors": {}, "address": "3 Meridian Walk, London SE10 8XJ"},
        ],
        "parking": [(60.0, -50.0), (-180.0, -50.0)],
    },
    {
        "key": "HARBOUR", "name": text("Harbour Campus", "Havnecampus"),
        "origin": (56.15370, 10.21340), "extent": (-70.0, -60.0, 70.0, 50.0),
        "address": "Havnegade 12, 8000 Aarhus C", "phone": "+45 86 12 00 00",
        "buildings": [
            {"key": "HARBOUR-HOUSE", "name": text("Harbour House", "Havnehuset"), "centre": (0.0, 0.0),
             "width": 72.0, "depth": 30.0, "room_width": 6.0, "floors": [-1, 0, 1, 2],
             "gap_floors": {2: 18.0}, "address": "Havnegade 12, 8000 Aarhus C"},
        ],
        "parking": [(40.0, -45.0)],
    },
]

CORRIDOR_HALF_WIDTH = 2.0
# The passage through a meeting room: the turns of its zigzag (metres east of the room's middle and north of its
# corridor wall) around the table in the middle of the room and a pillar; the last turn's row holds the back door.
PASSAGE_ZIGZAG = ((-1.5, 1.5), (1.5, 3.0), (-1.8, 4.5), (-1.8, 8.5), (1.5, 9.8))
PASSAGE_PILLAR = (1.6, 6.5)


def rooms_last(building):
    return int(round(building["width"] / building["room_width"])) - 1


# --- documents ---------------------------------------------------------------------------------------------------

class Solution:
    """Lays the campuses out once, language-neutral; then writes any endpoint's document in any language."""

    def __init__(self, location_count=None, clustering=False):
        self.random = random.Random(SEED)
        self.location_count = location_count  # None: the small sample
        self.clustering = clustering  # the variant with clustering on and dense points
        self.venues = []          # (venue spec, frame, venue id)
        self.buildings = []       # building spec with ids and frame
        self.floors = []          # (building, floor index, floor id, geometry)
        self.locations = []       # language-neutral location records
        self.derived = []         # (venue key, record)
        self.icons = []           # icon slugs bundled under res/
        self.images = []          # names of the images on the media host, bundled under res/ too
        self.external_images = []  # names of the images on the customer's own site

    # Ids and names ---------------------------------------------------------------------------------------------

    def type_info(self, name):
        for entry in LOCATION_TYPES:
            if entry[0] == name:
                return entry
        raise KeyError(name)

    def role_id(self, key):
        return object_id(SOLUTION_ID, "role", key)

    # Layout -----------------------------------------------------------------------------------------------------

    def lay_out(self):
        for venue in VENUES:
            frame = Frame(*venue["origin"])
            venue_id = object_id(SOLUTION_ID, "venue", venue["key"])
            self.venues.append((venue, frame, venue_id))
            for building in venue["buildings"]:
                building = dict(building)
                building["id"] = object_id(SOLUTION_ID, "building", building["key"])
                building["venue"] = venue
                building["venue_id"] = venue_id
                building["frame"] = frame
                self.buildings.append(building)
                for index in building["floors"]:
                    self.lay_out_floor(building, index)
            for number, (x, y) in enumerate(venue["parking"], start=1):
                self.add_location(venue, None, 0, "Parking", "%s-P%d" % (venue["key"][:3], number),
                                  text("Parking %d" % number, "Parkering %d" % number), point=(x, y), frame=frame,
                                  categories={"transport"})
        offices = [loc for loc in self.locations if loc["type"] == "Office"]
        if self.location_count is not None:
            if self.location_count < len(self.locations):
                raise ValueError("the campuses alone hold %d locations: ask for at least that many"
                                 % len(self.locations))
            self.add_desks(offices, self.location_count)
        else:
            # Hot desks on the first floors: two in each office.
            first_floor = [loc for loc in offices if loc["floor"] == 1]
            self.add_desks(first_floor, len(self.locations) + 2 * len(first_floor))

        if self.clustering:
            self.add_cluster_points()

        ids = [loc["id"] for loc in self.locations] + [floor[2] for floor in self.floors]
        if len(set(ids)) != len(ids):
            raise AssertionError("two objects of the sample share an id")

    def building_rect(self, building):
        cx, cy = building["centre"]
        half_w, half_d = building["width"] / 2, building["depth"] / 2
        return (cx - half_w, cy - half_d, cx + half_w, cy + half_d)

    def floor_parts(self, building, index):
        x0, y0, x1, y1 = self.building_rect(building)
        gap = building["gap_floors"].get(index)
        if gap is None:
            return [(x0, y0, x1, y1)]
        cx = building["centre"][0]
        return [(x0, y0, cx - gap / 2, y1), (cx + gap / 2, y0, x1, y1)]

    def lay_out_floor(self, building, index):
        frame = building["frame"]
        venue = building["venue"]
        parts = self.floor_parts(building, index)
        floor_id = object_id(SOLUTION_ID, "floor", building["key"], index)
        if len(parts) == 1:
            geometry = frame.polygon(parts[0])
        else:
            geometry = frame.multipolygon(parts)
        self.floors.append((building, index, floor_id, geometry))
        self.derived.append((venue["key"], {
            "geodataId": floor_id, "geodataType": "floor", "type": "floorplan", "geometry": geometry}))

        prefix = building["key"].split("-")[0][0] + building["key"].split("-")[-1][0]  # "MH", "OA", "HH"
        x0, y0, x1, y1 = self.building_rect(building)
        cx, cy = building["centre"]
        room_width = building["room_width"]
        rooms_per_side = int(round(building["width"] / room_width))
        meeting_names = MEETING_ROOM_NAMES[venue["key"]]
        number = 0
        for side, (ry0, ry1) in enumerate(((cy + CORRIDOR_HALF_WIDTH, y1), (y0, cy - CORRIDOR_HALF_WIDTH))):
            for slot in range(rooms_per_side):
                rx0 = x0 + slot * room_width
                rx1 = rx0 + room_width
                if not any(px0 <= rx0 and rx1 <= px1 for px0, _, px1, _ in parts):
                    continue  # the room would stand in the atrium
                number += 1
                room_number = "%d.%02d" % (index, number)
                if slot == 1 and side == 0:
                    type_name, name = "Toilet", text("Toilet %s" % room_number, "Toilet %s" % room_number)
                elif slot == rooms_per_side - 2 and side == 1:
                    type_name, name = "Kitchen", text("Kitchen %s" % room_number, "Køkken %s" % room_number)
                elif slot % 4 == 2:
                    meeting = meeting_names[(number + index * 3) % len(meeting_names)]
                    type_name = "Meeting Room"
                    name = text("%s %s" % (meeting, room_number), "%s %s" % (meeting, room_number))
                else:
                    type_name, name = "Office", text("Office %s" % room_number, "Kontor %s" % room_number)
                rect = (rx0, ry0, rx1, ry1)
                self.add_room(building, index, type_name, "%s-%s" % (prefix, room_number), name, rect, slot, side)

        # Points in the corridor: stairs at both ends, a lift in the middle.
        self.add_location(venue, building, index, "Stairs", "%s-%d-ST1" % (prefix, index),
                          text("Stairs west", "Trappe vest"), point=(x0 + 2.0, cy))
        self.add_location(venue, building, index, "Stairs", "%s-%d-ST2" % (prefix, index),
                          text("Stairs east", "Trappe øst"), point=(x1 - 2.0, cy))
        lift_x = parts[0][2] - 2.0 if len(parts) > 1 else cx + 1.0
        self.add_location(venue, building, index, "Elevator", "%s-%d-EL" % (prefix, index),
                          text("Lift", "Elevator"), point=(lift_x, cy), categories={"accessibility"})
        for part_number, (px0, _, px1, _) in enumerate(parts, start=1):
            suffix = "" if len(parts) == 1 else " %d" % part_number
            self.add_location(venue, building, index, "Corridor", "%s-%d-C%d" % (prefix, index, part_number),
                              text("Corridor%s" % suffix, "Gang%s" % suffix),
                              rect=(px0, cy - CORRIDOR_HALF_WIDTH, px1, cy + CORRIDOR_HALF_WIDTH), status=1)
        if index == 0:
            self.add_location(venue, building, index, "Reception", "%s-REC" % prefix,
                              text("Reception", "Reception"), point=(cx - 4.0, cy - 1.0),
                              own_rule=True, fields={"phone": ("phone", text("Phone", "Telefon"), venue["phone"])})
            self.add_location(venue, building, index, "Entrance", "%s-ENT-S" % prefix,
                              text("Main entrance", "Hovedindgang"), point=(cx, y0), categories={"transport"})
            if building["width"] > 60:
                self.add_location(venue, building, index, "Entrance", "%s-ENT-N" % prefix,
                                  text("North entrance", "Nordindgang"), point=(cx, y1),
                                  categories={"transport", "accessibility"})
        if index == 1:
            # A name that looks like a template reference: labels must show it as written.
            self.add_location(venue, building, index, "Lounge", "%s-LNG" % prefix,
                              text("Coffee $1 lounge", "Kaffe $1 lounge"),
                              rect=(cx - 6.0, cy - CORRIDOR_HALF_WIDTH, cx + 6.0, cy + CORRIDOR_HALF_WIDTH),
                              categories={"food"}, active=(1704067200, 2051222400))

    def add_room(self, building, index, type_name, external_id, name, rect, slot, side):
        venue = building["venue"]
        frame = building["frame"]
        categories = set()
        fields = {}
        restrictions = None
        bookable = None
        status = 3
        aliases = [external_id.split("-", 1)[1]]
        if type_name == "Meeting Room":
            categories = {"meeting"}
            capacity = 4 + 2 * self.random.randrange(0, 6)
            fields["capacity"] = ("number", text("Capacity", "Kapacitet"), str(capacity))
            bookable = True
        elif type_name == "Toilet":
            categories = {"facilities", "accessibility"} if index == 0 else {"facilities"}
        elif type_name == "Kitchen":
            categories = {"facilities", "food"}
        else:
            mailbox = external_id.lower().replace(".", "")
            fields["email"] = ("email", text("Email", "E-mail"), "%s@%s.example.com" % (mailbox, venue["key"].lower()))
            if slot == 0 and side == 1:
                restrictions = [self.role_id("staff")]
            if slot == 0 and side == 0 and index == building["floors"][-1]:
                status = 1  # on the map, but kept out of search
            if slot == rooms_last(building) and side == 0 and index == building["floors"][0]:
                status = 0  # closed: neither shown nor searchable
        location = self.add_location(venue, building, index, type_name, external_id, name, rect=rect,
                                     categories=categories, fields=fields, restrictions=restrictions,
                                     bookable=bookable, status=status, aliases=aliases)
        x0, y0, x1, y1 = rect
        inset = 0.15
        wall = {"type": "Polygon", "coordinates": [frame.ring(x0, y0, x1, y1),
                                                   frame.ring(x0 + inset, y0 + inset, x1 - inset, y1 - inset,
                                                              clockwise=True)]}
        self.derived.append((venue["key"], {
            "geodataId": location["id"], "geodataType": "room", "type": "wall", "geometry": wall}))
        if type_name == "Meeting Room":
            self.derived.append((venue["key"], {
                "geodataId": location["id"], "geodataType": "room", "type": "extrusion",
                "geometry": frame.polygon(rect)}))

    def add_location(self, venue, building, index, type_name, external_id, name, point=None, rect=None, frame=None,
                     categories=(), fields=None, restrictions=None, bookable=None, status=3, aliases=None,
                     own_rule=False, active=None):
        frame = frame or building["frame"]
        location = {
            "id": object_id(SOLUTION_ID, "location", external_id),
            "venue": venue, "building": building, "floor": index, "type": type_name, "externalId": external_id,
            "name": name, "categories": sorted(categories), "fields": fields or {}, "restrictions": restrictions,
            "bookable": bookable, "status": status, "aliases": aliases, "ownRule": own_rule, "active": active,
        }
        if rect is not None:
            location["geometry"] = frame.polygon(rect)
            location["rect"] = rect
            location["anchor"] = frame.point((rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2)
        else:
            location["geometry"] = frame.point(*point)
        self.locations.append(location)
        return location

    def add_cluster_points(self):
        """Points of a few types packed into a square of 24 metres on the hall's ground floor, icons overlapping at
        every zoom the types show at."""
        hall = next(b for b in self.buildings if b["key"] == "MERIDIAN-HALL")
        for type_name in CLUSTER_TYPES:
            for number in range(1, CLUSTER_POINTS_PER_TYPE + 1):
                x = round(self.random.uniform(-12.0, 12.0), 2)
                y = round(self.random.uniform(-12.0, 12.0), 2)
                external_id = "CL-%s-%d" % (type_name[:3].upper(), number)
                self.add_location(hall["venue"], hall, 0, type_name, external_id,
                                  text("%s %d" % (type_name, number), "%s %d" % (type_name, number)), point=(x, y))

    def add_desks(self, offices, total):
        """Places desks in the offices, round after round, until the solution holds `total` locations."""
        count = 0
        while len(self.locations) < total:
            office = offices[count % len(offices)]
            count += 1
            ring = office["geometry"]["coordinates"][0]
            west, south = ring[0]
            east, north = ring[2]
            longitude = coordinate(west + (east - west) * self.random.uniform(0.1, 0.9))
            latitude = coordinate(south + (north - south) * self.random.uniform(0.1, 0.9))
            desk = "%s-D%d" % (office["externalId"], (count - 1) // len(offices) + 1)
            self.locations.append({
                "id": object_id(SOLUTION_ID, "location", desk), "venue": office["venue"],
                "building": office["building"], "floor": office["floor"], "type": "Desk", "externalId": desk,
                "name": text("Desk %s" % desk, "Skrivebord %s" % desk), "categories": [], "fields": {},
                "restrictions": None, "bookable": True, "status": 3, "aliases": None, "ownRule": False,
                "active": None, "geometry": {"type": "Point", "coordinates": [longitude, latitude]},
            })

    # Documents --------------------------------------------------------------------------------------------------

    def icon_url(self, slug):
        if slug not in self.icons:
            self.icons.append(slug)
        return "%s/icons/%s.png" % (MEDIA, slug)

    def image_url(self, name):
        if name not in self.images:
            self.images.append(name)
        return "%s/images/%s.png" % (MEDIA, name)

    @staticmethod
    def model_url(name):
        # As the customer typed it: the space is left for the library to escape.
        return "%s/models/%s" % (MEDIA, name)

    def external_image_url(self, name):
        if name not in self.external_images:
            self.external_images.append(name)
        return "%s/photos/%s.png" % (EXTERNAL, name)

    def display_rule(self, type_entry):
        name, base, _, slug, colour, zoom_from = type_entry
        rule = {"visible": True, "iconVisible": True, "icon": self.icon_url(slug),
                "iconSize": {"width": 24, "height": 24}, "zoomFrom": zoom_from, "zoomTo": 22,
                "labelVisible": base != "AREA", "label": "{{name}}", "labelMaxWidth": 120, "clickable": True}
        if colour is not None:
            rule.update({"polygonVisible": True, "polygonFillColor": colour, "polygonFillOpacity": 0.8,
                         "polygonStrokeColor": "#6B7785", "polygonStrokeOpacity": 1.0, "polygonStrokeWidth": 1,
                         "wallsVisible": base == "ROOM", "wallsHeight": 3.0, "wallsColor": "#9AA4B1"})
        if name == "Meeting Room":
            rule.update({"extrusionVisible": True, "extrusionHeight": 2.5, "extrusionColor": "#F0B866"})
        if name == "Desk":
            rule["labelVisible"] = False
        rule.update(self.label_style(name))
        if name == "Meeting Room":
            # A badge in the icon's top-right corner: the rooms can be booked.
            rule.update({"badgeVisible": True, "badgeZoomFrom": 18, "badgeZoomTo": 22, "badgePosition": "topRight",
                         "badgeRadius": 5, "badgeStrokeWidth": 2, "badgeScale": 1, "badgeFillColor": "#F0B866",
                         "badgeStrokeColor": "#FFFFFF"})
        if name == "Entrance":
            rule["iconPlacement"] = "bottom"
        if name == "Lounge":
            # A flat image laid on the floor, sized in metres.
            rule.update({"model2DVisible": True, "model2DZoomFrom": 19, "model2DZoomTo": 22,
                         "model2DModel": self.image_url("model2d-lounge"), "model2DWidthMeters": 8.0,
                         "model2DHeightMeters": 5.0, "model2DBearing": 30.0})
        if name == "Reception":
            rule.update({"model3DVisible": True, "model3DZoomFrom": 20, "model3DZoomTo": 22,
                         "model3DModel": self.model_url(MODEL_3D_NAME), "model3DScale": 1.5,
                         "model3DRotationX": 90.0, "model3DRotationY": 0.0, "model3DRotationZ": 45.0})
        return rule

    @staticmethod
    def label_style(type_name):
        """Labels are dark on a white halo; parking labels lie flat along the parking row."""
        style = {"labelZoomFrom": 18, "labelZoomTo": 22, "labelStyleTextSize": 12, "labelStyleTextColor": "#1F2937",
                 "labelStyleHaloColor": "#FFFFFF", "labelStyleHaloWidth": 1, "labelStyleHaloBlur": 0}
        if type_name == "Parking":
            style.update({"labelType": "flat", "labelStyleBearing": 90, "labelZoomFrom": 16})
        return style

    def solution_document(self, lang):
        types = []
        for entry in LOCATION_TYPES:
            name, base, danish = entry[0], entry[1], entry[2]
            location_type = {"name": name, "translatedName": name if lang == "en" else danish,
                             "displayRule": self.display_rule(entry)}
            if name == "Meeting Room":
                location_type["fields"] = {"capacity": {"type": "number", "text": self.pick(
                    text("Capacity", "Kapacitet"), lang)}}
                location_type["locationSettings"] = {"selectable": True}
            if name == "Corridor":
                location_type["locationSettings"] = {"selectable": False}
            if name == "Kitchen":
                location_type["restrictions"] = [self.role_id("staff"), self.role_id("facility")]
            types.append(location_type)
        return {
            "id": SOLUTION_ID,
            "name": "Ambrell Sample Campuses",
            "defaultLanguage": DEFAULT_LANGUAGE,
            "availableLanguages": list(LANGUAGES),
            "modules": ["3dwalls", "directions", "livedata", "search"],
            "mapClientUrl": "https://map.ambrell.com/%s/{venueId}/{locationId}" % SOLUTION_ID,
            "positionProviderConfigs": {},
            "whitelabel": False,
            "solutionConfig": {
                "enableClustering": self.clustering,
                "newSelection": True,
                "collisionHandling": "REMOVE_LABEL_FIRST",
                "settings3D": {"wallOpacity": 0.8, "extrusionOpacity": 0.6},
                "mainDisplayRule": {"zoomFrom": 16, "zoomTo": 22, "label": "{{name}}"},
                "buildingDisplayRule": {"visible": True, "zoomFrom": 14, "zoomTo": 17},
                "stateDisplayRules": {
                    "selection": {"polygonFillColor": "#3071D9", "polygonFillOpacity": 0.9},
                    "highlight": {"polygonFillColor": "#EF6CCE", "polygonFillOpacity": 0.9},
                },
                "locationSettings": {"selectable": True},
            },
            "types": types,
        }

    @staticmethod
    def pick(localised, lang):
        return localised[lang]

    def entity_fields(self, url, lang):
        return {"website": {"type": "url", "text": self.pick(text("Website", "Hjemmeside"), lang), "value": url}}

    def venues_document(self, lang):
        document = []
        for venue, frame, venue_id in self.venues:
            ex0, ey0, ex1, ey1 = venue["extent"]
            geometry = with_bbox(frame.polygon((ex0, ey0, ex1, ey1)))
            key = venue["key"]
            document.append({
                "id": venue_id,
                "name": key,
                "solutionId": SOLUTION_ID,
                "externalId": "V-" + key,
                "venueInfo": {"name": self.pick(venue["name"], lang), "aliases": [key.title()],
                              "fields": self.entity_fields("https://%s.example.com/" % key.lower(), lang)},
                "geometry": geometry,
                "anchor": frame.point(0.0, 0.0),
                "entryPoints": [frame.point(x, y) for x, y in venue["parking"]],
                "defaultFloor": 0,
                "graphId": key,
                "tilesUrl": self.tiles_template(venue),
                "styles": [{"folder": "default", "displayName": self.pick(text("Default", "Standard"), lang)},
                           {"folder": "dark", "displayName": self.pick(text("Dark", "Mørk"), lang)}],
                "status": 3,
            })
        # The harbour campus is shown in its dark style unless the host says otherwise.
        document[1]["styleOverride"] = {"folder": "DARK", "displayName": self.pick(text("Dark", "Mørk"), lang)}
        return document

    def building_document(self, building, lang):
        frame = building["frame"]
        floors = {}
        for owner, index, floor_id, geometry in self.floors:
            if owner is not building:
                continue
            floors[str(index)] = {
                "id": floor_id, "name": self.pick(floor_name(index), lang), "zIndex": index,
                "buildingId": building["id"], "aliases": ["L%d" % index if index >= 0 else "B%d" % -index],
                "geometry": geometry, "status": 3,
            }
        return {
            "id": building["id"],
            "administrativeId": building["key"],
            "externalId": "B-" + building["key"],
            "address": building["address"],
            "venueId": building["venue_id"],
            "buildingInfo": {"name": self.pick(building["name"], lang), "aliases": [building["key"].title()],
                             "fields": self.entity_fields(
                                 "https://%s.example.com/%s" % (building["venue"]["key"].lower(),
                                                                building["key"].lower()), lang)},
            "geometry": with_bbox(frame.polygon(self.building_rect(building))),
            "anchor": frame.point(*building["centre"]),
            "defaultFloor": 0,
            "floors": floors,
            "status": 3,
        }

    def buildings_document(self, lang, venue_key=None):
        return [self.building_document(b, lang) for b in self.buildings
                if venue_key is None or b["venue"]["key"] == venue_key]

    def location_document(self, location, lang):
        type_entry = self.type_info(location["type"])
        properties = {
            "name": self.pick(location["name"], lang),
            "type": location["type"],
            "locationType": type_entry[1],
            "venue": location["venue"]["key"],
            "floor": location["floor"],
            "externalId": location["externalId"],
            "status": location["status"],
        }
        building = location["building"]
        if building is not None:
            properties["building"] = building["key"]
            properties["floorName"] = self.pick(floor_name(location["floor"]), lang)
        if location.get("anchor") is not None:
            properties["anchor"] = location["anchor"]
        if location["aliases"]:
            properties["aliases"] = location["aliases"]
        if location["categories"]:
            names = {key: self.pick(name, lang) for key, name, _ in CATEGORIES}
            # The service writes categories as key -> name; older documents as a bare list of keys.
            if location["type"] == "Entrance":
                properties["categories"] = list(location["categories"])
            else:
                properties["categories"] = {key: names[key] for key in location["categories"]}
        if location["fields"]:
            properties["fields"] = {key: {"type": kind, "text": self.pick(label, lang), "value": value}
                                    for key, (kind, label, value) in location["fields"].items()}
        if location["restrictions"]:
            properties["restrictions"] = location["restrictions"]
        if location["bookable"] is not None:
            properties["bookable"] = location["bookable"]
        if location["active"] is not None:
            properties["activeFrom"], properties["activeTo"] = location["active"]
        if location["ownRule"]:
            properties["displayRule"] = {"icon": self.icon_url("reception-desk"), "zoomFrom": 15}
            properties["locationSettings"] = {"selectable": True}
            properties["description"] = self.pick(text("Visitors sign in here.", "Gæster melder sig her."), lang)
            properties["imageURL"] = self.image_url(location["externalId"].lower())
        return {"id": location["id"], "type": "Feature", "geometry": location["geometry"], "properties": properties}

    def locations_document(self, lang, venue_key=None):
        return [self.location_document(loc, lang) for loc in self.locations
                if venue_key is None or loc["venue"]["key"] == venue_key]

    def categories_document(self, lang):
        return [{"key": key, "value": self.pick(name, lang),
                 "fields": {"description": {"type": "text", "text": self.pick(text("Description", "Beskrivelse"),
                                                                              lang),
                                            "value": self.pick(description, lang)}}}
                for key, name, description in CATEGORIES]

    def appconfig_document(self, lang):
        main_menu = [{"categoryKey": key, "menuImageUrl": self.image_url("menu-" + key),
                      "iconUrl": self.icon_url("menu-" + key)} for key, _, _ in CATEGORIES]
        return {
            "colorPrimary": "#1F3A5F",
            "colorPrimaryDark": "#14253D",
            "colorAccent": "#F0B866",
            "menuInfo": {"mainmenu": main_menu,
                         "quickmenu": [{"categoryKey": "facilities", "iconUrl": self.icon_url("menu-facilities")},
                                       {"categoryKey": "food", "iconUrl": self.icon_url("menu-food")}]},
            "venueImages": {venue["key"].lower(): self.external_image_url("venue-" + venue["key"].lower())
                            for venue, _, _ in self.venues},
            "appSettings": {"title": self.pick(text("Sample Campuses", "Eksempelcampusser"), lang),
                            "defaultVenue": self.venues[0][2]},
            "logConfig": {"eventLoggingEnabled": True},
        }

    def userroles_document(self, lang):
        return [{"id": self.role_id(key), "name": self.pick(name, lang)} for key, name in USER_ROLES]

    def derived_document(self, venue_key=None):
        records = [record for owner, record in self.derived if venue_key is None or owner == venue_key]
        # One extrusion per building outline, filed under the building.
        for building in self.buildings:
            if venue_key is None or building["venue"]["key"] == venue_key:
                records.append({"geodataId": building["id"], "geodataType": "building", "type": "extrusion",
                                "geometry": building["frame"].polygon(self.building_rect(building))})
        return records

    def document(self, endpoint, lang, venue_key=None):
        if endpoint == "solutions":
            return self.solution_document(lang)
        if endpoint == "venues":
            return self.venues_document(lang)
        if endpoint == "buildings":
            return self.buildings_document(lang, venue_key)
        if endpoint == "locations":
            return self.locations_document(lang, venue_key)
        if endpoint == "categories":
            return self.categories_document(lang)
        if endpoint == "appconfig":
            return self.appconfig_document(lang)
        if endpoint == "appuserroles":
            return self.userroles_document(lang)
        if endpoint == "derivedGeometry":
            return self.derived_document(venue_key)
        if endpoint == "graph":
            return self.graph_document(venue_key)
        if endpoint == "routelayer":
            return self.route_layer_document()
        raise KeyError(endpoint)

    # Route network and route layer ------------------------------------------------------------------------------

    def graph_document(self, venue_key=None):
        # One network per venue; the labels carry every language, so both languages get the same document.
        return [self.route_network(venue, frame) for venue, frame, _ in self.venues
                if venue_key is None or venue["key"] == venue_key]

    def route_network(self, venue, frame):
        """The venue's walkable network: a corridor along each floor (each wing of a split floor) with a door into
        each room and a node inside it, joined from floor to floor by stairs at both ends and a lift, entrances on the
        ground floor, paths outdoors between the buildings and to the parking places. The main hall of the meridian
        campus also has a one-way escalator from its ground floor up, a staff entrance and a staff-only bridge on the
        first floor to the annex; its campus has a bicycle stand, a bus stop and a gate in its boundary fence, so that
        every kind of entry point appears once. Entrances and those places are the entry points."""
        buildings = [b for b in self.buildings if b["venue"] is venue]
        floors = sorted({index for b in buildings for index in b["floors"]})
        floor_names = ["L%d" % i if i >= 0 else "B%d" % -i for i in floors]
        barriers = ["", "gate", "gateelevator"]
        highways = ["footway", "steps", "elevator", "escalator"]
        contexts = ["InsideBuilding", "OutsideOnVenue"]
        nodes, edges, labels, access, edge_access, fixed = [], [], [], [], [], []
        positions = []
        staff = [self.role_id("staff")]
        meridian = venue["key"] == "MERIDIAN"

        def node(x, y, index, boundary=0, barrier="", label=None):
            lng, lat = frame.lnglat(x, y)
            nodes.append([int(round(lat * 1e7)), int(round(lng * 1e7)), index, boundary, barriers.index(barrier),
                          floors.index(index) if index in floors else floors.index(0), 0])
            positions.append((x, y))
            if label is not None:
                labels.append({"index": len(nodes) - 1, "labels": label})
            return len(nodes) - 1

        def edge(u, v, highway, context="InsideBuilding", climb=0.0, speed=0, oneway=False):
            (ux, uy), (vx, vy) = positions[u], positions[v]
            millimetres = int(round(1000 * math.sqrt((ux - vx) ** 2 + (uy - vy) ** 2 + climb ** 2)))
            edges.append([[u, v], [highways.index(highway), contexts.index(context), millimetres, speed, 0,
                                   1 if oneway else 0]])
            return len(edges) - 1

        entrances = []  # (building, node) of the south entrances, joined outdoors
        rooms = {}  # location id -> (door node, room node)
        corridors = {}  # (building key, floor) -> {x: corridor node}
        for building in buildings:
            x0, y0, x1, y1 = self.building_rect(building)
            cx, cy = building["centre"]
            width = building["room_width"]
            doors = [x0 + (slot + 0.5) * width for slot in range(int(round(building["width"] / width)))]
            shafts = {}  # floor -> (west stairs, east stairs, lift)
            main_hall = meridian and building is buildings[0]
            for index in building["floors"]:
                parts = self.floor_parts(building, index)
                lift_x = parts[0][2] - 2.0 if len(parts) > 1 else cx + 1.0
                at = {}
                for px0, _, px1, _ in parts:
                    xs = sorted({round(x, 3) for x in doors + [x0 + 2.0, x1 - 2.0, lift_x, cx] if px0 <= x <= px1})
                    previous = None
                    for x in xs:
                        lift = x == round(lift_x, 3)
                        at[x] = node(x, cy, index, barrier="gateelevator" if lift else "")
                        if previous is not None:
                            edge(previous, at[x], "footway")
                        previous = at[x]
                corridors[(building["key"], index)] = at
                # A door from the corridor into each room, and a node in the middle of the room.
                for location in self.locations:
                    if (location["building"] is not building or location["floor"] != index
                            or self.type_info(location["type"])[1] != "ROOM"):
                        continue
                    rx0, ry0, rx1, ry1 = location["rect"]
                    x = round((rx0 + rx1) / 2, 3)
                    wall = cy + CORRIDOR_HALF_WIDTH if ry0 > cy else cy - CORRIDOR_HALF_WIDTH
                    door = node(x, wall, index, barrier="gate")
                    room = node(x, (ry0 + ry1) / 2, index, label=location["name"])
                    edge(at[x], door, "footway")
                    edge(door, room, "footway")
                    rooms[location["id"]] = (door, room)
                shafts[index] = (at[round(x0 + 2.0, 3)], at[round(x1 - 2.0, 3)], at[round(lift_x, 3)])
                if meridian:
                    fixed.extend(shafts[index])
                if index < 0:
                    # The basement lift stop is for staff only.
                    access.append({"index": shafts[index][2], "restrictions": staff})
                if index == 0:
                    south = node(cx, y0, 0, boundary=2, barrier="gate", label=text("Main entrance", "Hovedindgang"))
                    edge(south, at[round(cx, 3)], "footway")
                    entrances.append((building, south))
                    if building["width"] > 60:
                        # The hall's north door is also where cars drop their passengers off.
                        north = node(cx, y1, 0, boundary=6 if main_hall else 2, barrier="gate",
                                     label=text("North entrance", "Nordindgang"))
                        edge(north, at[round(cx, 3)], "footway")
                    if main_hall:
                        door = node(x1, cy, 0, boundary=2, barrier="gate",
                                    label=text("Staff entrance", "Personaleindgang"))
                        access.append({"index": door, "restrictions": staff})
                        edge(door, at[round(x1 - 2.0, 3)], "footway")
            for lower, upper in zip(building["floors"], building["floors"][1:]):
                for kind, (a, b) in zip(("steps", "steps", "elevator"), zip(shafts[lower], shafts[upper])):
                    edge(a, b, kind, climb=4.0, speed=500 if kind == "steps" else 0)
            if main_hall:
                # Up only, from the second door of the ground floor's corridor to the first floor's.
                x = round(doors[1], 3)
                edge(corridors[(building["key"], 0)][x], corridors[(building["key"], 1)][x], "escalator", climb=4.0,
                     oneway=True)
        for (_, a), (_, b) in zip(entrances, entrances[1:]):
            edge(a, b, "footway", context="OutsideOnVenue")
        if meridian:
            hall, annex = buildings[0], buildings[1]
            # The staff bridge on the first floor, from the hall's west end to the annex's east end.
            west = corridors[(hall["key"], 1)][round(self.building_rect(hall)[0] + 2.0, 3)]
            east = corridors[(annex["key"], 1)][round(self.building_rect(annex)[2] - 2.0, 3)]
            edge_access.append({"index": edge(west, east, "footway"), "restrictions": staff})
            annex_door = entrances[1][1]
            ax, ay = positions[annex_door]
            hall_door = entrances[0][1]
            hx, hy = positions[hall_door]
            outdoor = [
                (ax - 6.0, ay - 6.0, 8, text("Bicycle stand", "Cykelparkering"), annex_door),
                (hx, -60.0, 16, text("Bus stop", "Busstoppested"), hall_door),
                (-195.0, ay, 1, text("West gate", "Vestlåge"), annex_door),
            ]
            for x, y, boundary, label, nearest in outdoor:
                place = node(x, y, 0, boundary=boundary, label=label)
                edge(place, nearest, "footway", context="OutsideOnVenue")
        for number, (x, y) in enumerate(venue["parking"], start=1):
            parking = node(x, y, 0, boundary=4, label=text("Parking %d" % number, "Parkering %d" % number))
            nearest = min(entrances, key=lambda entry: math.dist(positions[entry[1]], (x, y)))[1]
            edge(parking, nearest, "footway", context="OutsideOnVenue")

        # A passage through the venue's first meeting room into the room east of it: from the corridor door a
        # zigzag of nodes around the room's table and pillar to a second door in the shared wall. Appended last, so
        # that the ids of every other node and edge stay as they were.
        meeting, neighbour = self.passage_rooms(venue)
        door, _ = rooms[meeting["id"]]
        rx0, ry0, rx1, ry1 = meeting["rect"]
        x = round((rx0 + rx1) / 2, 3)
        previous = door
        for dx, dy in PASSAGE_ZIGZAG:
            turn = node(x + dx, ry0 + dy, meeting["floor"])
            edge(previous, turn, "footway")
            previous = turn
            if meridian and (dx, dy) == PASSAGE_ZIGZAG[2]:
                # A node the path must keep: straightening may not skip it.
                fixed.append(turn)
        back_door = node(rx1, ry0 + PASSAGE_ZIGZAG[-1][1], meeting["floor"], barrier="gate")
        edge(previous, back_door, "footway")
        edge(back_door, rooms[neighbour["id"]][1], "footway")

        ex0, ey0, ex1, ey1 = venue["extent"]
        network = {
            "graphId": venue["key"],
            "graphArea": frame.polygon((ex0, ey0, ex1, ey1)),
            "nodeMapping": {"properties": ["boundary", "barrier", "floorname", "waittime"],
                            "values": [[], barriers, floor_names, []]},
            "edgeMapping": {"properties": ["highway", "context", "distance", "speedFactor", "waittime", "flags"],
                            "values": [highways, contexts, [], [], [], []]},
            "flagMapping": ["oneway"],
            "nodeData": nodes,
            "edgeData": edges,
            "nodeLabels": labels,
            "nodeAccess": access,
            "edgeAccess": edge_access,
        }
        if meridian:
            # Stairs and lift stops stay where they are when a path is straightened.
            network["immutableNodes"] = ranges(sorted(fixed))
        return network

    def route_layer_document(self):
        """A table in every meeting room: an obstacle that paths through the room go around."""
        obstacles = []
        for location in self.locations:
            if location["type"] != "Meeting Room":
                continue
            x0, y0, x1, y1 = location["rect"]
            cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
            frame = location["building"]["frame"]
            obstacles.append({"id": object_id(SOLUTION_ID, "obstacle", location["externalId"]), "restrictions": [],
                              "roomIdList": [location["id"]], "graphId": location["venue"]["key"],
                              "geometry": frame.polygon((cx - 0.6, cy - 1.2, cx + 0.6, cy + 1.2))})
        for venue, _, _ in self.venues:
            # A pillar by the passage through the venue's first meeting room.
            location, _ = self.passage_rooms(venue)
            x0, y0, x1, y1 = location["rect"]
            px, py = (x0 + x1) / 2 + PASSAGE_PILLAR[0], y0 + PASSAGE_PILLAR[1]
            obstacles.append({"id": object_id(SOLUTION_ID, "pillar", location["externalId"]), "restrictions": [],
                              "roomIdList": [location["id"]], "graphId": venue["key"],
                              "geometry": location["building"]["frame"].polygon((px - 0.25, py - 0.25, px + 0.25,
                                                                                  py + 0.25))})
        return obstacles

    def passage_rooms(self, venue):
        """The venue's first meeting room on the north side of its first building's lowest floor, and the room east
        of it."""
        building = next(b for b in self.buildings if b["venue"] is venue)
        floor = building["floors"][0]
        rooms = [location for location in self.locations
                 if location["building"] is building and location["floor"] == floor and "rect" in location
                 and self.type_info(location["type"])[1] == "ROOM" and location["rect"][1] > building["centre"][1]]
        meeting = min((r for r in rooms if r["type"] == "Meeting Room"), key=lambda r: r["rect"][0])
        neighbour = next(r for r in rooms if r["rect"][0] == meeting["rect"][2])
        return meeting, neighbour

    # Map tiles --------------------------------------------------------------------------------------------------

    @staticmethod
    def tiles_template(venue):
        return "%s/tiles/%s/%s/{style}/{floor}/{z}/{x}/{y}.png" % (TILES, SOLUTION_ID, venue["key"].lower())

    @staticmethod
    def tile_package_url():
        return "%s/tiles/%s/tilepackage.zip" % (TILES, SOLUTION_ID)

    def tiles(self):
        """(venue key, floor, z, x, y) of every tile written: those over the venue's extent, on each of its floors."""
        tiles = []
        for venue, frame, _ in self.venues:
            ex0, ey0, ex1, ey1 = venue["extent"]
            west, south = frame.lnglat(ex0, ey0)
            east, north = frame.lnglat(ex1, ey1)
            floors = sorted({index for b in self.buildings if b["venue"] is venue for index in b["floors"]})
            for zoom in TILE_ZOOMS:
                xa, ya = tile_coordinate(west, north, zoom)
                xb, yb = tile_coordinate(east, south, zoom)
                for index in floors:
                    for x in range(xa, xb + 1):
                        for y in range(ya, yb + 1):
                            tiles.append((venue["key"], index, zoom, x, y))
        return tiles

    # The size response ------------------------------------------------------------------------------------------

    def dataset_document(self, lang, sizes):
        """What a full copy of the solution holds, by group, with the bytes of each as the service has them."""
        groups = [
            ("json", [sync_url(endpoint, lang) for endpoint in SYNC_ORDER + ("derivedGeometry",)]),
            # The icons and images that locations, types and menus show.
            ("images", sorted(self.icon_url(slug) for slug in self.icons)
             + sorted(self.image_url(name) for name in self.images)),
            ("externalimages", sorted(self.external_image_url(name) for name in self.external_images)),
            ("tiles", [self.tile_package_url()]),
        ]
        resources = [{"type": kind, "urls": urls, "estimatedSize": sum(sizes[url] for url in urls)}
                     for kind, urls in groups]
        return {"id": SOLUTION_ID, "name": "Ambrell Sample Campuses", "resources": resources,
                "totalEstimatedSize": sum(group["estimatedSize"] for group in resources)}

    # Counts -----------------------------------------------------------------------------------------------------

    def counts(self):
        def location_counts(locations):
            by_type, by_base, by_geometry, by_status = {}, {}, {}, {}
            for loc in locations:
                by_type[loc["type"]] = by_type.get(loc["type"], 0) + 1
                base = self.type_info(loc["type"])[1]
                by_base[base] = by_base.get(base, 0) + 1
                kind = loc["geometry"]["type"]
                by_geometry[kind] = by_geometry.get(kind, 0) + 1
                by_status[str(loc["status"])] = by_status.get(str(loc["status"]), 0) + 1
            return {"total": len(locations), "byType": by_type, "byBaseType": by_base, "byGeometry": by_geometry,
                    "byStatus": by_status,
                    "outdoor": sum(1 for loc in locations if loc["building"] is None),
                    "withCategories": sum(1 for loc in locations if loc["categories"])}

        def derived_counts(records):
            by_kind = {}
            for record in records:
                by_kind[record["type"]] = by_kind.get(record["type"], 0) + 1
            return {"total": len(records), "byType": by_kind}

        per_venue = {}
        for venue, _, venue_id in self.venues:
            key = venue["key"]
            buildings = [b for b in self.buildings if b["venue"]["key"] == key]
            per_venue[venue_id] = {
                "administrativeId": key,
                "buildings": len(buildings),
                "floors": sum(len(b["floors"]) for b in buildings),
                "locations": location_counts([loc for loc in self.locations if loc["venue"]["key"] == key]),
                "derivedGeometry": derived_counts(self.derived_document(key)),
            }
        app = self.appconfig_document(DEFAULT_LANGUAGE)
        return {
            "solutionId": SOLUTION_ID,
            "languages": list(LANGUAGES),
            "timestamp": SNAPSHOT_TIMESTAMP,
            "endpoints": list(ENDPOINTS),
            "venueEndpoints": list(VENUE_ENDPOINTS),
            "types": len(LOCATION_TYPES),
            "categories": len(CATEGORIES),
            "userRoles": len(USER_ROLES),
            "menus": {name: len(items) for name, items in app["menuInfo"].items()},
            "venues": len(self.venues),
            "buildings": len(self.buildings),
            "floors": len(self.floors),
            "multiPolygonFloors": sum(1 for f in self.floors if f[3]["type"] == "MultiPolygon"),
            "floorsPerBuilding": {b["id"]: len(b["floors"]) for b in self.buildings},
            "locations": location_counts(self.locations),
            "derivedGeometry": derived_counts(self.derived_document()),
            "perVenue": per_venue,
            "icons": sorted(self.icons),
            "images": sorted(self.images),
            "externalImages": sorted(self.external_images),
            "models": [MODEL_3D_NAME],
            "enableClustering": self.clustering,
            "graph": {venue_id: graph_counts(network) for (_, _, venue_id), network
                      in zip(self.venues, self.graph_document())},
            "routeLayerObstacles": len(self.route_layer_document()),
            "tiles": {"zoomLevels": list(TILE_ZOOMS), "total": len(self.tiles()),
                      "perVenue": {venue_id: sum(1 for tile in self.tiles() if tile[0] == venue["key"])
                                   for venue, _, venue_id in self.venues},
                      "package": self.tile_package_url()},
            "datasetEndpoint": DATASET_ENDPOINT,
            "origins": list(ORIGINS),
            "serviceLastModified": SERVICE_LAST_MODIFIED,
        }


def graph_counts(network):
    highways = network["edgeMapping"]["values"][0]
    by_highway, by_boundary = {}, {}
    for _, properties in network["edgeData"]:
        by_highway[highways[properties[0]]] = by_highway.get(highways[properties[0]], 0) + 1
    for entry in network["nodeData"]:
        if entry[3] != 0:
            by_boundary[str(entry[3])] = by_boundary.get(str(entry[3]), 0) + 1
    return {"graphId": network["graphId"], "nodes": len(network["nodeData"]), "edges": len(network["edgeData"]),
            "edgesByHighway": by_highway, "entryPoints": sum(by_boundary.values()),
            "entryPointsByBoundary": by_boundary,
            "doors": sum(1 for entry in network["nodeData"] if network["nodeMapping"]["values"][1][entry[4]] == "gate"),
            "oneWayEdges": sum(1 for _, properties in network["edgeData"] if properties[5] & 1),
            "labels": len(network["nodeLabels"]),
            "restrictedNodes": len(network["nodeAccess"]), "restrictedEdges": len(network["edgeAccess"]),
            "immutableNodes": network.get("immutableNodes", "")}


# --- writing -----------------------------------------------------------------------------------------------------

def number(value):
    """Fixed-point text with at most seven decimals: never an exponent, the same on every platform."""
    if isinstance(value, bool) or isinstance(value, int):
        return json.dumps(value)
    if not math.isfinite(value):
        raise ValueError("JSON has no %r" % value)
    digits = ("%.7f" % value).rstrip("0")
    if digits.endswith("."):
        digits += "0"
    return "0.0" if digits == "-0.0" else digits


def compact(value):
    """Compact JSON with sorted keys; UTF-8 text is written as it is."""
    if isinstance(value, dict):
        return "{" + ",".join(json.dumps(str(key), ensure_ascii=False) + ":" + compact(value[key])
                              for key in sorted(value)) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(compact(element) for element in value) + "]"
    if isinstance(value, str) or value is None:
        return json.dumps(value, ensure_ascii=False)
    return number(value)


def encode(document):
    """A list puts one element on each line, so that diffs of the committed copy stay readable."""
    if isinstance(document, list):
        body = "[\n" + ",\n".join(compact(element) for element in document) + "\n]\n"
    else:
        body = compact(document) + "\n"
    return body.encode("utf-8")


def encode_png(width, height, colour_type, rows):
    """A PNG of 8-bit samples from rows that each begin with their filter byte."""

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
            + chunk(b"IEND", b""))


def png(colour, mark):
    """An 8x8 RGBA icon: a filled square in `colour` with a white mark, so each icon differs."""
    r, g, b = (int(colour[i:i + 2], 16) for i in (1, 3, 5))
    rows = []
    for y in range(8):
        row = bytearray([0])  # filter: none
        for x in range(8):
            border = x in (0, 7) or y in (0, 7)
            lit = (x * 8 + y) * 7 % 64 < mark
            pixel = (255, 255, 255, 255) if (lit and not border) else (r, g, b, 255)
            row.extend(pixel)
        rows.append(bytes(row))
    return encode_png(8, 8, 6, rows)  # RGBA


def shade(name, low, high):
    """An RGB colour between `low` and `high` per channel, chosen by the name."""
    digest = hashlib.sha1(name.encode("utf-8")).digest()
    return bytes(low + digest[i] * (high - low) // 255 for i in range(3))


def picture_png(name):
    """A 48x32 RGB picture for an image URL: a colour of its own with a light band across."""
    colour, band = shade(name, 40, 200), b"\xf0\xf0\xf0"
    row = hashlib.sha1(name.encode("utf-8")).digest()[3] % 24
    rows = [b"\x00" + (band if row <= y < row + 6 else colour) * 48 for y in range(32)]
    return encode_png(48, 32, 2, rows)  # RGB


def tile_png(venue_key, floor, zoom, x, y):
    """A map tile: the floor's paper colour, a darker frame and a band across that differs from tile to tile."""
    name = "%s/%d/%d/%d/%d" % (venue_key, floor, zoom, x, y)
    paper, ink = shade("%s/%d" % (venue_key, floor), 200, 250), shade(name, 60, 140)
    digest = hashlib.sha1(name.encode("utf-8")).digest()
    band_row, band_column = 16 + digest[0] % 208, 16 + digest[1] % 208
    plain = b"\x00" + ink + paper * (band_column - 1) + ink * 16 + paper * (TILE_SIZE - band_column - 17) + ink
    full = b"\x00" + ink * TILE_SIZE
    rows = [full if y in (0, TILE_SIZE - 1) or band_row <= y < band_row + 16 else plain for y in range(TILE_SIZE)]
    return encode_png(TILE_SIZE, TILE_SIZE, 2, rows)


def tile_file_name(floor, zoom, x, y):
    # The tile cache's name for a tile: the last four path components of its URL joined with "_".
    return "%d_%d_%d_%d.png" % (floor, zoom, x, y)


def zip_archive(entries):
    """A zip of (name, bytes) entries, stored, with fixed dates and modes: the same bytes on every run."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2025, 2, 1, 0, 0, 0))
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            archive.writestr(info, data)
    return buffer.getvalue()


def icon_png(slug):
    digest = hashlib.sha1(slug.encode("utf-8")).hexdigest()
    # Keep the colour dark enough for the white mark to show.
    colour = "#" + "".join("%02X" % (int(digest[i:i + 2], 16) // 2 + 32) for i in (0, 2, 4))
    return png(colour, 8 + int(digest[6:8], 16) % 24)


def model_glb(name):
    """A binary glTF file holding one triangle: a small stand-in for a customer's 3D model."""
    positions = struct.pack("<9f", 0, 0, 0, 1, 0, 0, 0, 1, 0)
    document = {
        "asset": {"version": "2.0", "generator": "sample-solution %s" % name},
        "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                       "min": [0, 0, 0], "max": [1, 1, 0]}],
        "bufferViews": [{"buffer": 0, "byteLength": len(positions)}],
        "buffers": [{"byteLength": len(positions)}],
    }
    text_chunk = json.dumps(document, sort_keys=True, separators=(",", ":")).encode("utf-8")
    text_chunk += b" " * (-len(text_chunk) % 4)
    binary_chunk = positions + b"\0" * (-len(positions) % 4)
    body = (struct.pack("<I4s", len(text_chunk), b"JSON") + text_chunk
            + struct.pack("<I4s", len(binary_chunk), b"BIN\0") + binary_chunk)
    return struct.pack("<4sII", b"glTF", 2, 12 + len(body)) + body


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


def generate(out, location_count=None, clustering=False):
    """Writes the small sample, or with `location_count` a large variant holding that many locations, or with
    `clustering` the small one with clustering on and dense points."""
    solution = Solution(location_count, clustering)
    solution.lay_out()
    service = os.path.join(out, "service")
    bundle = os.path.join(out, "bundle")
    for folder in (service, bundle):
        if os.path.isdir(folder):
            shutil.rmtree(folder)

    sizes = {}  # URL -> bytes served, for the size response

    def serve(url, data):
        # Files other than the sync documents lie under service/ at their URL's path.
        sizes[url] = len(data)
        write(os.path.join(service, *url_path(url).lstrip("/").split("/")), data)

    for endpoint in ENDPOINTS:
        for lang in LANGUAGES:
            data = encode(solution.document(endpoint, lang))
            # The web service: GET sync/<endpoint>?solutionId=<id>&lr=<lang>&v=6
            write(os.path.join(service, "sync", "%s_%s.json" % (endpoint, lang)), data)
            sizes[sync_url(endpoint, lang)] = len(data)
            # The host app: the resource "res/ax_sync_<endpoint>_<lang>" of type "json".
            write(os.path.join(bundle, "res", "ax_sync_%s_%s.json" % (endpoint, lang)), data)
            if endpoint in VENUE_ENDPOINTS:
                for venue, _, venue_id in solution.venues:
                    data = encode(solution.document(endpoint, lang, venue["key"]))
                    write(os.path.join(service, "sync", venue_id, "%s_%s.json" % (endpoint, lang)), data)

    write(os.path.join(bundle, "res", "ax_sync_solutionid.json"), encode({"solutionId": SOLUTION_ID}))
    write(os.path.join(bundle, "res", "ax_sync_timestamp.json"), encode({"timestamp": SNAPSHOT_TIMESTAMP}))
    for slug in sorted(solution.icons):
        # An icon URL's path "/icons/<slug>.png" is looked up among the resources as "ax_icons_<slug>.png".
        write(os.path.join(bundle, "res", "ax_icons_%s.png" % slug), icon_png(slug))
        serve(solution.icon_url(slug), icon_png(slug))
    for name in sorted(solution.images):
        write(os.path.join(bundle, "res", "ax_images_%s.png" % name), picture_png(name))
        serve(solution.image_url(name), picture_png(name))
    for name in sorted(solution.external_images):
        serve(solution.external_image_url(name), picture_png(name))
    # The 3D model lies at its URL's path, the space kept in the file's name.
    write(os.path.join(service, "models", MODEL_3D_NAME), model_glb(MODEL_3D_NAME))

    # Tiles: one by one where the venue's template points (the style left out: every style gets the same
    # tiles), all of them in the tile package, and the same files among the app's resources.
    package = []
    venue_templates = {venue["key"]: solution.tiles_template(venue) for venue, _, _ in solution.venues}
    for venue_key, floor, zoom, x, y in solution.tiles():
        data = tile_png(venue_key, floor, zoom, x, y)
        url = venue_templates[venue_key].replace("/{style}", "").format(floor=floor, z=zoom, x=x, y=y)
        serve(url, data)
        package.append((tile_file_name(floor, zoom, x, y), data))
        write(os.path.join(bundle, "res", tile_file_name(floor, zoom, x, y)), data)
    serve(solution.tile_package_url(), zip_archive(sorted(package)))
    write(os.path.join(bundle, "res", "ax_sync_tiles.json"),
          encode({"tiles": len(package), "zoomLevels": list(TILE_ZOOMS)}))
    # The route networks of every venue, which the library reads when neither memory nor a data set has them.
    write(os.path.join(bundle, "res", "ax_sync_graph.json"), encode(solution.graph_document()))

    # The size response, per language; the service answers it with "Content-Language".
    for lang in LANGUAGES:
        write(os.path.join(service, "sync", "%s_%s.json" % (DATASET_ENDPOINT, lang)),
              encode(solution.dataset_document(lang, sizes)))

    counts = json.dumps(solution.counts(), sort_keys=True, ensure_ascii=False, indent=2) + "\n"
    write(os.path.join(out, "expected-counts.json"), counts.encode("utf-8"))
    return solution


def grid_network(node_count, floors=4, spacing=1.5):
    """A square grid per floor, about `node_count` nodes in all: footways between neighbours, stairs at two opposite
    corners and a lift in the middle, joining every floor. For benchmarks of the route search; never committed."""
    if node_count < 4 * floors:
        raise ValueError("a grid needs at least %d nodes" % (4 * floors))
    side = max(2, int(math.ceil(math.sqrt(node_count / floors))))
    frame = Frame(55.0, 12.0)
    nodes, edges = [], []

    def at(floor, row, column):
        return (floor * side + row) * side + column

    for floor in range(floors):
        for row in range(side):
            for column in range(side):
                lng, lat = frame.lnglat(column * spacing, row * spacing)
                nodes.append([int(round(lat * 1e7)), int(round(lng * 1e7)), floor, 0, 0, 0])
                if column > 0:
                    edges.append([[at(floor, row, column - 1), at(floor, row, column)], [0, int(spacing * 1000), 0, 0]])
                if row > 0:
                    edges.append([[at(floor, row - 1, column), at(floor, row, column)], [0, int(spacing * 1000), 0, 0]])
    middle = side // 2
    for floor in range(1, floors):
        for row, column, highway in ((0, 0, 1), (side - 1, side - 1, 1), (middle, middle, 2)):
            edges.append([[at(floor - 1, row, column), at(floor, row, column)], [highway, 4000, 500 if highway == 1 else 0, 0]])
    nodes[0][3] = 2  # the corner entrance
    extent = side * spacing + 10.0
    return {
        "graphId": "GRID-%d" % len(nodes),
        "graphArea": frame.polygon((-10.0, -10.0, extent, extent)),
        "nodeMapping": {"properties": ["boundary", "barrier", "waittime"], "values": [[], [""], []]},
        "edgeMapping": {"properties": ["highway", "distance", "speedFactor", "flags"],
                        "values": [["footway", "steps", "elevator"], [], [], []]},
        "flagMapping": ["oneway"],
        "nodeData": nodes,
        "edgeData": edges,
    }


def written_files(root):
    files = {}
    for top in ("service", "bundle", "expected-counts.json"):
        path = os.path.join(root, top)
        if os.path.isfile(path):
            files[top] = path
        for folder, _, names in os.walk(path):
            for name in names:
                full = os.path.join(folder, name)
                files[os.path.relpath(full, root)] = full
    return files


def check(out):
    """Compares the copy in `out` with a fresh one; answers the differing file names."""
    with tempfile.TemporaryDirectory() as scratch:
        generate(scratch)
        fresh, present = written_files(scratch), written_files(out)
        differing = []
        for name in sorted(set(fresh) | set(present)):
            if name not in fresh or name not in present:
                differing.append(name)
                continue
            with open(fresh[name], "rb") as a, open(present[name], "rb") as b:
                if a.read() != b.read():
                    differing.append(name)
        return differing


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", help="folder to write into (default: this script's folder)")
    parser.add_argument("--large", action="store_true",
                        help="write %d locations, for benchmarks; needs --out elsewhere" % LARGE_LOCATION_COUNT)
    parser.add_argument("--locations", type=int, metavar="N",
                        help="write N locations (at least the campuses' own few hundred), for benchmarks; "
                             "needs --out elsewhere")
    parser.add_argument("--grid", type=int, metavar="N", action="append",
                        help="write a route-network document of one grid network of about N nodes on four floors to "
                             "<out>/route-network-grid-N.json, for benchmarks; may repeat; needs --out elsewhere")
    parser.add_argument("--clustering", action="store_true",
                        help="write the small sample with clustering enabled and %d packed points of each of the "
                             "types %s; needs --out elsewhere" % (CLUSTER_POINTS_PER_TYPE, ", ".join(CLUSTER_TYPES)))
    parser.add_argument("--check", action="store_true",
                        help="write nothing; fail when the sample in --out differs from what this script writes")
    args = parser.parse_args(argv)
    out = os.path.abspath(args.out) if args.out else here
    if args.large and args.locations is not None:
        parser.error("--large is --locations %d: give one of them" % LARGE_LOCATION_COUNT)
    location_count = LARGE_LOCATION_COUNT if args.large else args.locations
    if args.clustering and location_count is not None:
        parser.error("--clustering writes the small sample only")
    if args.check:
        if location_count is not None or args.clustering:
            parser.error("--check compares the small sample only")
        differing = check(out)
        for name in differing:
            print("differs: %s" % name)
        if differing:
            print("the sample in %s is out of date: run %s" % (out, os.path.abspath(__file__)))
            return 1
        print("the sample in %s is what this script writes" % out)
        return 0
    if args.grid:
        if out == here:
            parser.error("grid networks are never committed: give --out a folder outside the repository's sample")
        for size in args.grid:
            try:
                document = [grid_network(size)]
            except ValueError as error:
                parser.error(str(error))
            path = os.path.join(out, "route-network-grid-%d.json" % size)
            write(path, encode(document))
            print("wrote %d nodes, %d edges to %s" % (len(document[0]["nodeData"]), len(document[0]["edgeData"]), path))
        return 0
    if (location_count is not None or args.clustering) and out == here:
        parser.error("a variant is never committed: give --out a folder outside the repository's sample")
    try:
        solution = generate(out, location_count, args.clustering)
    except ValueError as error:
        parser.error(str(error))
    print("wrote %d locations, %d floors, %d buildings, %d venues to %s"
          % (len(solution.locations), len(solution.floors), len(solution.buildings), len(solution.venues), out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
