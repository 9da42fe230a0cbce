-- The supply's state lives in its stored values (vset, iset, output); this file only computes.
-- The load is a 10-ohm resistor: the output follows the set voltage until the current limit
-- takes over (constant current), as on a real bench supply.

LOAD_OHMS = 10

-- The current the load would draw at the set voltage, and whether the limit holds it back.
local function demand()
  return tonumber(vset) / LOAD_OHMS
end

function limited()
  return output == "1" and demand() > tonumber(iset)
end

function vout()
  if output ~= "1" then return 0 end
  if limited() then return tonumber(iset) * LOAD_OHMS end
  return tonumber(vset)
end

function iout()
  return vout() / LOAD_OHMS
end

-- A test can make the supply trip, as an over-current would: {"cmd": "call", "function": "trip"}.
function trip()
  output = "0"
  tripped = true
  return "tripped"
end

tripped = false
