function vout()
  if output == "1" then return tonumber(vset) end
  return 0
end
